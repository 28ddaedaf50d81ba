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

bool allSucceeded(const std::vector<ServiceOutcome>& services) {
    for (const ServiceOutcome& outcome : services) {
        if (!outcome.succeeded)
            return false;
    }
    return true;
}
