#pragma once
// The fuzz targets' test of what readers may be shown: well-formed UTF-8, judged by nlohmann's
// encoder, which refuses anything else.

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>

namespace tessly::fuzz {

inline bool isValidUTF8(std::string_view text) {
    try {
        (void)nlohmann::json(std::string(text)).dump();
        return true;
    } catch (const nlohmann::json::type_error&) {
        return false;
    }
}

}  // namespace tessly::fuzz
