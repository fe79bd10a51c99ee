// One screen routine per gauge family, run from the main menu.
#pragma once

namespace kestran {

void bq20z();
void bq30z();
void bq40z();
void bq9000();

}  // namespace kestran
