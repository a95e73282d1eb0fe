// The licence agreement shown by UELA, taken from dist/licence.txt when the build is configured.
#pragma once

namespace installer {
extern const char* const kLicenceText;
}
