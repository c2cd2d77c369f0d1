#include "platform/files.h"

namespace platform {

std::string inputFileRefusal(InputFile result, std::uint64_t maxBytes) {
    switch (result) {
        case InputFile::Folder:
            return "a folder";
        case InputFile::NotRegular:
            return "not a regular file";
        case InputFile::TooLarge:
            if (maxBytes % (1024 * 1024) == 0)
                return "larger than " + std::to_string(maxBytes / (1024 * 1024)) + " MiB";
            return "larger than " + std::to_string(maxBytes) + " bytes";
        default:
            return {};
    }
}

}  // namespace platform
