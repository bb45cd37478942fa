#pragma once

#include "vexilo/domain/PictureInfo.h"

#include <cstddef>
#include <optional>
#include <unordered_map>
#include <vector>

namespace vexilo {

// A value per picture id. A stream's ids count its pictures in decode order, so they are kept
// in a vector indexed by id: a long stream's hundred thousand pictures then cost a few bytes
// each instead of a hash node apiece. An id far beyond the pictures held, or below zero, goes
// to a map, so that one odd id cannot make the vector huge.
template <typename Value>
class PictureIdTable {
public:
    void set(domain::PictureId pictureId, Value value)
    {
        if (fitsTheVector(pictureId)) {
            const auto index = static_cast<std::size_t>(pictureId);
            if (index >= byIndex_.size()) {
                byIndex_.resize(index + 1);
            }
            countInVector(index);
            byIndex_[index] = value;
            if (!byId_.empty()) {
                byId_.erase(pictureId);
            }
            return;
        }
        byId_[pictureId] = value;
    }

    [[nodiscard]] const Value* find(domain::PictureId pictureId) const
    {
        if (pictureId >= 0 && static_cast<std::size_t>(pictureId) < byIndex_.size()) {
            if (const std::optional<Value>& value = byIndex_[static_cast<std::size_t>(pictureId)]) {
                return &*value;
            }
        }
        if (byId_.empty()) {
            return nullptr;
        }
        const auto found = byId_.find(pictureId);
        return found != byId_.end() ? &found->second : nullptr;
    }

    void clear()
    {
        byIndex_ = {};
        byId_ = {};
        heldInVector_ = 0;
    }

private:
    // The vector may run ahead of the ids it holds by this many slots, and by as many again as
    // it holds: pictures that arrive out of decode order still land in it.
    static constexpr std::size_t kSlack = 4096;

    [[nodiscard]] bool fitsTheVector(domain::PictureId pictureId) const
    {
        return pictureId >= 0 && (static_cast<std::size_t>(pictureId) < byIndex_.size() ||
                                  static_cast<std::size_t>(pictureId) < 2 * heldInVector_ + kSlack);
    }

    void countInVector(std::size_t index)
    {
        if (!byIndex_[index]) {
            ++heldInVector_;
        }
    }

    std::vector<std::optional<Value>> byIndex_;
    std::size_t heldInVector_ = 0;
    std::unordered_map<domain::PictureId, Value> byId_;
};

} // namespace vexilo
