// The updater's own version, the same in every program of one build: the CMake project's version,
// with "+test-images" when the build carries the generated test images instead of the maker's.
// (The version of the ESC firmware carried is CARRIED_FIRMWARE_VERSION, catalogue/catalogue.h.)
#pragma once

const char* UpdaterVersion();
