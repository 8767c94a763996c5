// The JSON form of the records on nlohmann/json.
//
// Encoding writes the compact text directly, keys in declaration order. Decoding parses with
// exceptions off and checks the JSON type of every value (its value_t) before it reads the value
// through get_ptr: nothing is converted or thrown. On the
// normal path nothing throws; the try/catch at each public function only turns an allocation
// failure (or any other exception of the standard library's) into "no result", so that no
// exception crosses the library's interface.

#include <TesslyKit/RecordsJSON.h>

#include "Decoding.h"
#include "NumberText.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <exception>
#include <limits>
#include <new>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>

namespace tessly {

namespace {

using Json = nlohmann::json;                 // decoding: key order is irrelevant
using OrderedJson = nlohmann::ordered_json;  // encoding: one number or string at a time

constexpr double twoToThe53 = 9007199254740992.0;

// ---- encoding -------------------------------------------------------------------------------

// A key of the JSON form: a field name, fixed when this file is compiled. Only ASCII letters are
// accepted (anything else does not compile), so the name between two quotes is already its JSON
// string and needs no escaping. Text that comes from data is never a key.
class Key {
  public:
    consteval Key(const char* name) : name_(name) {  // NOLINT: implicit, from a literal
        for (const char* c = name; *c != '\0'; ++c) {
            if (!((*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z'))) {
                throw "a JSON key of this file is a field name of ASCII letters";
            }
        }
    }
    std::string_view name() const { return name_; }

  private:
    std::string_view name_;
};

// Compact JSON text appended directly, with no document built: keys in declaration order, no
// spaces. Numbers are written as integers or in their shortest form; every string is written by
// nlohmann's serializer. The tests hold the output to golden texts and round trips. The agent
// encodes a payload every second, so this path builds no tree of nodes.
class Writer {
  public:
    explicit Writer(std::string& out) : out_(out) {}

    void openObject() { open('{'); }
    void closeObject() { close('}'); }
    void openArray() { open('['); }
    void closeArray() { close(']'); }
    void key(Key name) {
        separate();
        out_ += '"';
        out_ += name.name();
        out_ += "\":";
        afterKey_ = true;
    }

    // A finite double as a JSON number. A whole value that a double holds exactly (|v| < 2^53,
    // and not -0.0, whose sign only the float form keeps) is written as an integer: 36 rather
    // than 36.0. Everything else is float text with the fewest digits that read back as the same
    // double (the round-trip tests check that): 41.25, 1e-05, -0.0. NaN and the infinities have no
    // JSON form.
    bool number(double value) {
        if (!std::isfinite(value)) return false;
        const bool negativeZero = value == 0 && std::signbit(value);
        if (std::trunc(value) == value && std::fabs(value) < twoToThe53 && !negativeZero) {
            integer(static_cast<std::int64_t>(value));
        } else {
            separate();
            char text[detail::floatTextSize];
            out_.append(text, detail::floatText(value, text));
        }
        return true;
    }
    void integer(std::int64_t value) {
        separate();
        std::array<char, 24> digits;
        const auto end = std::to_chars(digits.data(), digits.data() + digits.size(), value).ptr;
        out_.append(digits.data(), end);
    }
    void boolean(bool value) {
        separate();
        out_ += value ? "true" : "false";
    }
    // The string as nlohmann's compact dump writes it: \" \\ \b \t \n \f \r, \u00XX (lower-case
    // hex) for the other characters below U+0020, everything else as it is (DEL and UTF-8
    // included, ensure_ascii off). Replace mode: each byte that starts no UTF-8 sequence, and each
    // sequence cut short, becomes one U+FFFD instead of failing the record. In that mode dump
    // throws nothing for any bytes (only strict mode throws, type_error 316 on invalid UTF-8), so
    // what is left to leave here is an allocation failure, which the public calls turn into no
    // result.
    void string(const std::string& text) {
        separate();
        out_ += OrderedJson(text).dump(-1, ' ', false, OrderedJson::error_handler_t::replace);
    }

    bool put(Key name, double value) {
        key(name);
        return number(value);
    }
    bool put(Key name, const std::optional<double>& value) { return !value || put(name, *value); }

  private:
    // A comma before every member and element but the first of its object or array.
    void separate() {
        if (afterKey_) {
            afterKey_ = false;
        } else if (!first_) {
            out_ += ',';
        }
        first_ = false;
    }
    void open(char bracket) {
        separate();
        out_ += bracket;
        first_ = true;
    }
    void close(char bracket) {
        out_ += bracket;
        first_ = false;
    }

    std::string& out_;
    bool first_ = true;
    bool afterKey_ = false;
};

bool encodeInto(Writer& out, const ThermalReading& reading) {
    out.openObject();
    if (!out.put("cpuTemperatureC", reading.cpuTemperatureC) ||
        !out.put("gpuTemperatureC", reading.gpuTemperatureC) ||
        !out.put("memoryTemperatureC", reading.memoryTemperatureC) ||
        !out.put("batteryTemperatureC", reading.batteryTemperatureC) ||
        !out.put("storageTemperatureC", reading.storageTemperatureC)) {
        return false;
    }
    out.closeObject();
    return true;
}

bool encodeInto(Writer& out, const FanReading& reading) {
    out.openObject();
    if (!out.put("rpm", reading.rpm)) return false;
    out.key("fanCount");
    out.integer(reading.fanCount);
    if (reading.rpms) {
        out.key("rpms");
        out.openArray();
        for (const double rpm : *reading.rpms) {
            if (!out.number(rpm)) return false;
        }
        out.closeArray();
    }
    if (!out.put("minRPM", reading.minRPM) || !out.put("maxRPM", reading.maxRPM)) return false;
    out.closeObject();
    return true;
}

bool encodeInto(Writer& out, const SensorControl& control) {
    out.openObject();
    out.key("autostart");
    out.boolean(control.autostart);
    if (!out.put("stopRequestedAt", control.stopRequestedAt)) return false;
    out.closeObject();
    return true;
}

bool encodeInto(Writer& out, const SensorsPayload& payload) {
    out.openObject();
    if (payload.thermal) {
        out.key("thermal");
        if (!encodeInto(out, *payload.thermal)) return false;
    }
    if (payload.fan) {
        out.key("fan");
        if (!encodeInto(out, *payload.fan)) return false;
    }
    if (!out.put("sampledAt", payload.sampledAt)) return false;
    if (payload.helperVersion) {
        out.key("helperVersion");
        out.string(*payload.helperVersion);
    }
    out.closeObject();
    return true;
}

template <class Record>
std::optional<std::string> encodeText(const Record& record) noexcept {
    try {
        std::string text;
        text.reserve(1024);  // a payload of a few dozen fans fits without growing
        Writer writer(text);
        if (!encodeInto(writer, record)) return std::nullopt;
        return text;
    } catch (const std::exception&) {  // see the top of the file
        return std::nullopt;
    }
}

// ---- decoding -------------------------------------------------------------------------------

// The value under `key`, or nullptr when the key is missing or holds null.
const Json* member(const Json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end() || it->is_null()) return nullptr;
    return &*it;
}

// Any JSON number as a double: integer, unsigned, fraction or exponent form. The parser has
// already refused numbers that overflow to infinity. (The switch matters: nlohmann counts an
// unsigned value as a "number_integer" too, and get_ptr would reinterpret its bits.)
std::optional<double> asDouble(const Json& value) {
    switch (value.type()) {
        case Json::value_t::number_integer:
            return static_cast<double>(*value.get_ptr<const Json::number_integer_t*>());
        case Json::value_t::number_unsigned:
            return static_cast<double>(*value.get_ptr<const Json::number_unsigned_t*>());
        case Json::value_t::number_float:
            return *value.get_ptr<const Json::number_float_t*>();
        default:
            return std::nullopt;
    }
}

// A whole number within the signed 64-bit range. nlohmann parses non-negative integer text as
// unsigned and negative integer text as signed; every other number text reaches the document as
// a double, except under the key "fanCount", where the parser below turns text that denotes a
// whole number within range into an integer first. So a double here is never whole by its text.
std::optional<std::int64_t> asInt64(const Json& value) {
    switch (value.type()) {
        case Json::value_t::number_integer:
            return *value.get_ptr<const Json::number_integer_t*>();
        case Json::value_t::number_unsigned: {
            const auto u = *value.get_ptr<const Json::number_unsigned_t*>();
            if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
                return std::nullopt;
            }
            return static_cast<std::int64_t>(u);
        }
        default:
            return std::nullopt;
    }
}

bool readRequired(const Json& object, const char* key, double& out) {
    const Json* value = member(object, key);
    if (value == nullptr) return false;
    const auto number = asDouble(*value);
    if (!number) return false;
    out = *number;
    return true;
}

// Missing or null leaves the field absent; any other value must be a number.
bool readOptional(const Json& object, const char* key, std::optional<double>& out) {
    const Json* value = member(object, key);
    if (value == nullptr) {
        out.reset();
        return true;
    }
    out = asDouble(*value);
    return out.has_value();
}

bool decodeInto(const Json& json, ThermalReading& out) {
    return json.is_object() && readOptional(json, "cpuTemperatureC", out.cpuTemperatureC) &&
           readOptional(json, "gpuTemperatureC", out.gpuTemperatureC) &&
           readOptional(json, "memoryTemperatureC", out.memoryTemperatureC) &&
           readOptional(json, "batteryTemperatureC", out.batteryTemperatureC) &&
           readOptional(json, "storageTemperatureC", out.storageTemperatureC);
}

bool decodeInto(const Json& json, FanReading& out) {
    if (!json.is_object() || !readRequired(json, "rpm", out.rpm)) return false;

    const Json* fanCount = member(json, "fanCount");
    if (fanCount == nullptr) return false;
    const auto count = asInt64(*fanCount);
    if (!count) return false;
    out.fanCount = *count;

    out.rpms.reset();
    if (const Json* rpms = member(json, "rpms")) {
        const auto* list = rpms->get_ptr<const Json::array_t*>();
        if (list == nullptr) return false;
        std::vector<double> speeds;
        speeds.reserve(list->size());
        for (const Json& element : *list) {
            const auto speed = asDouble(element);  // null and non-numbers fail
            if (!speed) return false;
            speeds.push_back(*speed);
        }
        out.rpms = std::move(speeds);
    }
    return readOptional(json, "minRPM", out.minRPM) && readOptional(json, "maxRPM", out.maxRPM);
}

bool decodeInto(const Json& json, SensorControl& out) {
    if (!json.is_object()) return false;
    const Json* autostart = member(json, "autostart");
    if (autostart == nullptr) return false;
    const auto* flag = autostart->get_ptr<const Json::boolean_t*>();
    if (flag == nullptr) return false;
    out.autostart = *flag;
    return readOptional(json, "stopRequestedAt", out.stopRequestedAt);
}

template <class Record>
bool decodeOptional(const Json& object, const char* key, std::optional<Record>& out) {
    const Json* value = member(object, key);
    if (value == nullptr) {
        out.reset();
        return true;
    }
    Record record;
    if (!decodeInto(*value, record)) return false;
    out = std::move(record);
    return true;
}

bool decodeInto(const Json& json, SensorsPayload& out) {
    if (!json.is_object() || !decodeOptional(json, "thermal", out.thermal) ||
        !decodeOptional(json, "fan", out.fan) || !readRequired(json, "sampledAt", out.sampledAt)) {
        return false;
    }
    out.helperVersion.reset();
    if (const Json* version = member(json, "helperVersion")) {
        const auto* text = version->get_ptr<const Json::string_t*>();
        if (text == nullptr) return false;
        out.helperVersion = *text;
    }
    return true;
}

// The document of a JSON text, built by nlohmann's own DOM builder, with one difference: the
// number under a key "fanCount" is judged by the digits written, not by the double they round to.
// Text that denotes a whole number within signed 64-bit ("2.0", "1e3", "9223372036854775807.0")
// becomes that integer; any other ("2.0000000000000001", "1e-400") stays a double, which
// asInt64 refuses. Under every other key numbers are what nlohmann makes of them.
class DocumentBuilder {
  public:
    explicit DocumentBuilder(Json& root) : dom_(root, /*allow_exceptions=*/false) {}

    bool null() { return value(), dom_.null(); }
    bool boolean(bool v) { return value(), dom_.boolean(v); }
    bool number_integer(Json::number_integer_t v) { return value(), dom_.number_integer(v); }
    bool number_unsigned(Json::number_unsigned_t v) { return value(), dom_.number_unsigned(v); }
    bool number_float(Json::number_float_t v, const Json::string_t& text) {
        const bool count = value();
        if (count) {
            if (const auto whole = detail::wholeInt64FromJSONNumber(text)) {
                return dom_.number_integer(*whole);
            }
        }
        return dom_.number_float(v, text);
    }
    bool string(Json::string_t& v) { return value(), dom_.string(v); }
    bool binary(Json::binary_t& v) { return value(), dom_.binary(v); }
    bool start_object(std::size_t n) { return value(), dom_.start_object(n); }
    bool key(Json::string_t& k) {
        underFanCount_ = k == "fanCount";
        return dom_.key(k);
    }
    bool end_object() { return dom_.end_object(); }
    bool start_array(std::size_t n) { return value(), dom_.start_array(n); }
    bool end_array() { return dom_.end_array(); }
    template <class Exception>
    bool parse_error(std::size_t position, const std::string& token, const Exception& error) {
        return dom_.parse_error(position, token, error);
    }

  private:
    // A value arrives: whether it is the one under "fanCount".
    bool value() { return std::exchange(underFanCount_, false); }

    nlohmann::detail::json_sax_dom_parser<Json> dom_;
    bool underFanCount_ = false;
};

// A key that occurs twice in one object keeps its last value (nlohmann's builder overwrites).
// Throws std::bad_alloc alone.
template <class Record>
std::optional<Record> decodeTextOrThrow(std::string_view text) {
    try {
        // nlohmann takes a NUL byte for the end of the input and would accept what precedes it;
        // no JSON text holds a raw NUL (inside strings it must be escaped), so refuse it here.
        if (text.find('\0') != std::string_view::npos) return std::nullopt;
        Json root;
        DocumentBuilder builder(root);
        // Strict: one value and nothing after it; not valid UTF-8 or not JSON fails.
        if (!Json::sax_parse(text, &builder)) return std::nullopt;
        Record record;
        if (!decodeInto(root, record)) return std::nullopt;
        return record;
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception&) {  // see the top of the file
        return std::nullopt;
    }
}

template <class Record>
std::optional<Record> decodeText(std::string_view text) noexcept {
    try {
        return decodeTextOrThrow<Record>(text);
    } catch (const std::bad_alloc&) {  // see the top of the file
        return std::nullopt;
    }
}

}  // namespace

std::optional<std::string> encodeJSON(const SensorsPayload& payload) noexcept {
    return encodeText(payload);
}
std::optional<std::string> encodeJSON(const SensorControl& control) noexcept {
    return encodeText(control);
}
std::optional<std::string> encodeJSON(const ThermalReading& reading) noexcept {
    return encodeText(reading);
}
std::optional<std::string> encodeJSON(const FanReading& reading) noexcept {
    return encodeText(reading);
}

std::optional<SensorsPayload> decodeSensorsPayload(std::string_view text) noexcept {
    return decodeText<SensorsPayload>(text);
}
std::optional<SensorControl> decodeSensorControl(std::string_view text) noexcept {
    return decodeText<SensorControl>(text);
}
std::optional<ThermalReading> decodeThermalReading(std::string_view text) noexcept {
    return decodeText<ThermalReading>(text);
}
std::optional<FanReading> decodeFanReading(std::string_view text) noexcept {
    return decodeText<FanReading>(text);
}

namespace detail {

std::optional<SensorsPayload> decodeSensorsPayloadOrThrow(std::string_view text) {
    return decodeTextOrThrow<SensorsPayload>(text);
}
std::optional<SensorControl> decodeSensorControlOrThrow(std::string_view text) {
    return decodeTextOrThrow<SensorControl>(text);
}

}  // namespace detail

}  // namespace tessly
