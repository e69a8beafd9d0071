#include "worker/host_message.h"

#include "worker/error_codes.h"
#include "worker/protocol_error.h"

#include <string>
#include <unordered_set>
#include <vector>

namespace native_worker {
namespace {

// One key set per open object; sets are reused rather than reallocated so a
// line dense with small objects costs little beyond the parse itself.
class StrictStructure {
public:
    bool operator()(int depth, nlohmann::json::parse_event_t event, nlohmann::json& parsed) {
        using Event = nlohmann::json::parse_event_t;
        if (depth > maximumNestingDepth) throw ProtocolError(codes::invalidMessage);
        switch (event) {
        case Event::object_start:
            if (open_ == sets_.size()) sets_.emplace_back();
            sets_[open_++].clear();
            break;
        case Event::key:
            if (open_ == 0 || !sets_[open_ - 1].insert(parsed.get_ref<const std::string&>()).second)
                throw ProtocolError(codes::invalidMessage);
            break;
        case Event::object_end:
            --open_;
            break;
        default:
            break;
        }
        return true;
    }

private:
    std::vector<std::unordered_set<std::string>> sets_;
    std::size_t open_ = 0;
};

}  // namespace

nlohmann::json parseHostMessage(std::string_view line) {
    nlohmann::json message;
    StrictStructure structure;
    try {
        message = nlohmann::json::parse(
            line.begin(), line.end(),
            [&structure](int depth, nlohmann::json::parse_event_t event, nlohmann::json& parsed) {
                return structure(depth, event, parsed);
            },
            true, false);
    } catch (const ProtocolError&) {
        throw;
    } catch (const std::exception&) {
        throw ProtocolError(codes::invalidMessage);
    }
    if (!message.is_object()) throw ProtocolError(codes::invalidMessage);
    return message;
}

}  // namespace native_worker
