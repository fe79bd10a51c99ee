// The raw register scans of the main menu.
#pragma once

namespace kestran {

void TestReadWord();
void TestReadWord_00();
void TestReadBlock();
void TestReadBlock_23();

}  // namespace kestran
