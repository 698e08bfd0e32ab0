#include "comm/TxCompletion.h"

namespace vtx {

namespace {
std::mutex instanceMutex;
TxCompletion* instance = nullptr;  // guarded by instanceMutex
}  // namespace

TxCompletion& TxCompletion::process() {
    const std::lock_guard lock(instanceMutex);
    if (instance == nullptr) {
        instance = new TxCompletion();
    }
    return *instance;
}

void TxCompletion::releaseProcess() {
    const std::lock_guard lock(instanceMutex);
    delete instance;
    instance = nullptr;
}

}  // namespace vtx
