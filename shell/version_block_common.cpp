#include "shell/version_block.h"

namespace talvo {

void ReadVersionBlock() {
    ReadVersionBlock(g_appData);
}

}  // namespace talvo
