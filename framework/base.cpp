#include "framework/base.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "calib/con_common.h"
#include "calib/tra_common.h"

namespace {

std::unique_ptr<char[]> copyText(const char* text) noexcept {
    if (text == nullptr) {
        text = "";
    }
    size_t size = std::strlen(text) + 1;
    std::unique_ptr<char[]> copy(new (std::nothrow) char[size]);
    if (copy) {
        std::memcpy(copy.get(), text, size);
    }
    return copy;
}

}  // namespace

ModInfo::ModInfo() noexcept = default;

// The tracker handler first, then the controller handler: their farewell
// lines (with a debug logger) come in this order.
ModInfo::~ModInfo() {
    traHandler.reset();
    conHandler.reset();
}

CBase::CBase(const CLogH* hostLogger) noexcept : logger(&ownLogger_), ownsLogger(true), inputConnector(true) {
    if (hostLogger != nullptr) {
        ownLogger_ = *hostLogger;
    } else {
        ownLogger_.setName("CBase");
    }
    ownLogger_.setOwnerId(1);
}

CBase::~CBase() = default;

CBaseMod::CBaseMod(DeviceConfig* config, const CLogH* hostLogger) noexcept : CBase(hostLogger), config(config) {}

CBaseMod::~CBaseMod() {
    deviceName.reset();
    modInfo.reset();  // releases the handlers with it
}

uint32_t CBaseMod::setInitInfo(const InitInfo* info) noexcept {
    if (info == nullptr) {
        logger->error("Init info is empty.", true);
        return 0;
    }
    // Make both copies before touching anything, so that a failure leaves
    // the previous state whole.
    std::unique_ptr<ModInfo> copy(new (std::nothrow) ModInfo());
    std::unique_ptr<char[]> name = copyText(config != nullptr ? config->name : nullptr);
    if (!copy || !name) {
        logger->error("Out of memory for the init info.", true);
        return 0;
    }
    static_cast<InitInfo&>(*copy) = *info;
    modInfo = std::move(copy);
    lastInitWord = info->words[InitInfo::kOpaqueWords - 1];
    deviceName = std::move(name);
    inputConnector = true;
    return 1;
}

int CBaseMod::recvData(UpdateMasks* masks, uint32_t /*unused*/) {
    logger->debug("\"recvData\" called.", true);
    if (!modInfo) {
        logger->error("\"recvData\" called before the init info was set.", true);
        return -1;
    }
    if (masks == nullptr && (modInfo->conHandler || modInfo->traHandler)) {
        // The writes mark every record in the masks: nowhere to mark. A
        // module without handlers writes nothing and needs none.
        logger->error("Update masks are empty.", true);
        return -1;
    }
    modInfo->updateMasks = masks;
    if (modInfo->conHandler) {
        masks->controllerMask = 0;
    }
    if (modInfo->traHandler) {
        masks->trackerMask = 0;
    }
    if (modInfo->conHandler && updateControllers() == 0) {
        return -1;
    }
    if (modInfo->traHandler && updateTrackers() == 0) {
        return -1;
    }
    return 1;
}

int CBaseMod::sendData(uint32_t /*first*/, uint32_t /*second*/) { return 0; }

bool CBaseMod::printName() {
    logger->info("DEVICE NAME           : ", false);
    // Straight to the output, so that the name shows even when the logger
    // writes nothing.
    std::fputs(deviceName ? deviceName.get() : "", stdout);
    std::fputc('\n', stdout);
    return true;
}
