#include "core/diagnostics.h"

Q_LOGGING_CATEGORY(lcPanel, "zelto.panel")

bool reportIgnored(const Result<>& result, const char* step, std::vector<Error>* collected) {
    if (result)
        return true;
    reportIgnored(result.error(), step, collected);
    return false;
}

void reportIgnored(const Error& error, const char* step, std::vector<Error>* collected) {
    qCWarning(lcPanel, "%s: %s", step, qUtf8Printable(error.context()));
    if (collected)
        collected->push_back(error);
}
