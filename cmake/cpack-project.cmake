# Read by CPack before it packs: the package's time stamps are those the
# build was configured with (SOURCE_DATE_EPOCH, by default the time of the
# commit built), whatever the environment of the packing run says.
set(ENV{SOURCE_DATE_EPOCH} ${CPACK_MORVIDEX_SOURCE_DATE_EPOCH})
