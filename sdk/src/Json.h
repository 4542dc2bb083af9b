// Just enough JSON for device files: objects, arrays, strings, numbers,
// booleans and null. The SDK carries no JSON dependency of its own.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace vcc {

struct Json {
    enum class Type { Null, Bool, Number, String, Array, Object } type = Type::Null;
    bool boolean = false;
    double number = 0;
    std::string text;                 // the string, or a number as written
    std::vector<Json> items;
    std::vector<std::pair<std::string, Json>> members; // in file order

    const Json* get(const std::string& key) const;
};

// Parses a whole document; on failure returns false and describes where in *error.
bool parseJson(const std::string& in, Json& out, std::string* error);

} // namespace vcc
