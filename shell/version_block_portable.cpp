// Without a platform version block the data comes from the version data the
// Windows version block is generated from, so both builds report the same.
#include "shell/version_block.h"
#include "resources/catalogue.h"

namespace talvo {

void ReadVersionBlock(AppData& data) {
    const VersionData& v = ShippedVersionData();
    if (v.translationLanguage != 0) {
        data.SetProductName(v.productName);
    }
    data.productVersionMajor = v.productVersion[0];
    data.productVersionMinor = v.productVersion[1];
    data.productVersionBuild = v.productVersion[2];
}

}  // namespace talvo
