#include "worker/host_message.h"

#include "base/field_checks.h"
#include "base/protocol_error.h"

#include <string>
#include <vector>

namespace native_worker {
namespace {

using nlohmann::json;

// Builds the value itself from SAX events, so the depth and duplicate-key
// rules cost nothing beyond the parse: the library's own callback parser
// rescans a container at every child's end, which makes a line of many small
// siblings take quadratic time.
class StrictBuilder {
public:
    json result;

    bool null() { return place(json()); }
    bool boolean(bool value) { return place(json(value)); }
    bool number_integer(json::number_integer_t value) { return place(json(value)); }
    bool number_unsigned(json::number_unsigned_t value) { return place(json(value)); }
    bool number_float(json::number_float_t value, const std::string&) { return place(json(value)); }
    bool string(std::string& value) { return place(json(std::move(value))); }
    bool binary(json::binary_t&) { refuseInvalidMessage(); }

    bool start_object(std::size_t) { return open(json::object()); }
    bool end_object() { return close(); }
    bool start_array(std::size_t) { return open(json::array()); }
    bool end_array() { return close(); }

    // Keys arrive unescaped, so a key spelled once plainly and once with an
    // escape is a duplicate too.
    bool key(std::string& name) {
        json& object = *open_.back();
        const auto [slot, inserted] = object.get_ref<json::object_t&>().try_emplace(std::move(name));
        if (!inserted) refuseInvalidMessage();
        pendingMember_ = &slot->second;
        return true;
    }

    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) { refuseInvalidMessage(); }

private:
    // The depth of a value is the number of containers around it.
    bool place(json&& value) {
        if (open_.size() > maximumNestingDepth) refuseInvalidMessage();
        target() = std::move(value);
        return true;
    }

    bool open(json&& container) {
        if (open_.size() > maximumNestingDepth) refuseInvalidMessage();
        json& slot = target();
        slot = std::move(container);
        open_.push_back(&slot);
        return true;
    }

    bool close() {
        open_.pop_back();
        return true;
    }

    json& target() {
        if (open_.empty()) return result;
        json& parent = *open_.back();
        if (parent.is_array()) return parent.get_ref<json::array_t&>().emplace_back();
        return *pendingMember_;
    }

    std::vector<json*> open_;
    json* pendingMember_ = nullptr;
};

}  // namespace

json parseHostMessage(std::string_view line) {
    StrictBuilder builder;
    try {
        json::sax_parse(line.begin(), line.end(), &builder, nlohmann::detail::input_format_t::json, true, false);
    } catch (const ProtocolError&) {
        throw;
    } catch (const std::exception&) {
        refuseInvalidMessage();
    }
    if (!builder.result.is_object()) refuseInvalidMessage();
    return std::move(builder.result);
}

}  // namespace native_worker
