#include "update/extraction_names.h"

#include <archive_entry.h>

namespace update::entry_names {

QString withEntryName(const char* name, const QString& message) {
    if (message.isEmpty())
        return message;
    return QString::fromUtf8(name ? name : "") + QStringLiteral(": ") + message;
}

std::optional<QString> unsafeNameReason(std::string_view name) {
    if (name.empty())
        return QStringLiteral("Invalid empty pathname");
    if (name.front() == '/')
        return QStringLiteral("Path is absolute");
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find('/', start);
        if (end == std::string_view::npos)
            end = name.size();
        if (name.substr(start, end - start) == "..")
            return QStringLiteral("Path contains '..'");
        start = end + 1;
    }
    return std::nullopt;
}

std::string normalizedName(std::string_view name) {
    std::string out;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find('/', start);
        if (end == std::string_view::npos)
            end = name.size();
        const std::string_view part = name.substr(start, end - start);
        if (!part.empty() && part != ".") {
            if (!out.empty())
                out += '/';
            out += part;
        }
        start = end + 1;
    }
    return out;
}

std::optional<QString> replacesBaseReason(const std::string& normalName, unsigned fileType) {
    if (normalName.empty() && fileType != AE_IFDIR)
        return QStringLiteral("Entry would replace the extraction directory");
    return std::nullopt;
}

std::optional<std::string> linkOnTheWay(const std::string& name,
                                        const std::unordered_set<std::string>& links) {
    if (links.empty())
        return std::nullopt;
    for (size_t slash = name.find('/'); slash != std::string::npos;
         slash = name.find('/', slash + 1)) {
        if (links.count(name.substr(0, slash)))
            return name.substr(0, slash);
    }
    if (links.count(name))
        return name;
    return std::nullopt;
}

} // namespace update::entry_names
