#include "media/stats.h"

#include <map>

namespace native_worker {

Stats buildStats(const std::vector<engine::StatsReport>& reports, bool host) {
    const std::string streamType = host ? "outbound-rtp" : "inbound-rtp";
    Stats stats;
    std::map<std::string, std::string> mimeTypes;
    std::string codecId;
    for (const auto& report : reports) {
        for (const auto& member : report.members) {
            if (!member.defined) continue;
            if (report.type == "codec" && member.name == "mimeType") mimeTypes[report.id] = member.text;
            if (report.type == streamType && member.name == "codecId") codecId = member.text;
            if (report.type == "outbound-rtp" && member.name == "framesEncoded")
                stats.encodedFrames = member.uint32Value;
        }
    }
    if (codecId.empty()) return stats;
    if (const auto found = mimeTypes.find(codecId); found != mimeTypes.end()) stats.codec = found->second;
    return stats;
}

}  // namespace native_worker
