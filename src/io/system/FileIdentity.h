#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace quenta {

// Which file a path leads to: a file removed or replaced under the same name is another one.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const FileIdentity &) const = default;
};

// None when the path leads to no file; `why` then says why.
std::optional<FileIdentity> fileIdentity(const QString &path, QString *why = nullptr);

} // namespace quenta
