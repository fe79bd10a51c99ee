// The cell-voltage section shared by every gauge report: four cell voltages
// from the first source whose cells add up to the pack voltage.
#pragma once

namespace kestran {

// Tries the cell-voltage words 0x3F..0x3C, ManufacturerData 0x23, the words
// 0x6C..0x6F and block 0x30 in this order; the first whose four cells come
// within 59 mV of Voltage (0x09) is shown, and block 0x30 is shown when none
// does. Prints four lines, VCELL 4 first, each tagged with the source used.
void printCellVoltages();

}  // namespace kestran
