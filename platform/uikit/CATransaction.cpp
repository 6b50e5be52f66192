#include "CATransaction.h"

#include <vector>

namespace {
thread_local std::vector<bool> transactions;
}

void CATransaction::begin() {
    transactions.push_back(false);
}

void CATransaction::commit() {
    if (!transactions.empty())
        transactions.pop_back();
}

void CATransaction::setDisableActions(bool disable) {
    if (!transactions.empty())
        transactions.back() = disable;
}

bool CATransaction::disableActions() {
    return !transactions.empty() && transactions.back();
}
