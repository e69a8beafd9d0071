#pragma once

#include "media/engine.h"

#include <memory>
#include <string>
#include <vector>

namespace native_worker::testing {

// A screen source list with fixed ids, for the display rules without an engine.
class FixedSourceList final : public engine::SourceList {
public:
    explicit FixedSourceList(std::vector<std::string> ids) : ids_(std::move(ids)) {}

    std::int32_t refresh(bool, bool) override { return count(); }
    std::int32_t count() const override { return static_cast<std::int32_t>(ids_.size()); }
    std::shared_ptr<engine::MediaSource> source(std::int32_t index) override {
        struct Source final : engine::MediaSource {
            explicit Source(std::string text) : id_(std::move(text)) {}
            std::string id() const override { return id_; }
            std::string id_;
        };
        return std::make_shared<Source>(ids_.at(static_cast<std::size_t>(index)));
    }

private:
    std::vector<std::string> ids_;
};

}  // namespace native_worker::testing
