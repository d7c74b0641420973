# The parameters the shipped firmware package is built from: one line of
# talvo-fwimage arguments per image, in package order. Changing anything here
# changes package.bin; rebuild it with the regenerate-firmware-package target.
set(TALVO_PACKAGE_IMAGES normal dspmain)
set(TALVO_PACKAGE_normal_ARGS
    --magic UASP --version 1.07 --length 76044 --seed 0x1107
    --key0 0x3C5A96E1 --key1 0x7E2B0D94
    --aux1 0100000000000000 --aux2 00000000 --aux3 0000000000000000)
set(TALVO_PACKAGE_dspmain_ARGS
    --magic DSPA --version 1.07 --length 122752 --seed 0x2107
    --key0 0x5DA1C3F0 --key1 0x0B96E247
    --aux1 0200000000000000 --aux2 00000000 --aux3 0000000000000000)
