#include "reports/reports.h"

namespace kestran {

// The screen is not built yet: the menu clears, returns and pauses.
void bq30z() {}

}  // namespace kestran
