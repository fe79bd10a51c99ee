#include "console/state.h"

namespace kestran {

void resetSharedState()
{
    status = 0;
    buf.fill(0);
    buff.fill(0);
    block.fill(0);
    tempStr.fill(0);
    i = 0;
    tempWord = 0;
    Word2byte = 0;
    VarPec = 1;
    StUnsealDevice = 0;
    BootRom = 0;
    UnsealKEY1 = UnsealKEY2 = FASKEY1 = FASKEY2 = 0;
    choice = 0;
}

}  // namespace kestran
