#include "core/operation_outcome.h"

const ServiceOutcome* OperationOutcome::serviceOutcome(Service service) const {
    for (const ServiceOutcome& outcome : services) {
        if (outcome.service == service)
            return &outcome;
    }
    return nullptr;
}

ServiceOutcome serviceOutcomeOf(Service service,
                                std::initializer_list<std::optional<Error>> steps) {
    for (const std::optional<Error>& step : steps) {
        if (step)
            return {service, false, step};
    }
    return {service, true, std::nullopt};
}

std::optional<Error> reportedFailure(const QString& report, const QString& call) {
    if (report.isEmpty())
        return std::nullopt;
    return Error{report, QString(), call};
}

bool allSucceeded(const std::vector<ServiceOutcome>& services) {
    for (const ServiceOutcome& outcome : services) {
        if (!outcome.succeeded)
            return false;
    }
    return true;
}
