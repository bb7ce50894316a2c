#include "template_creation.h"

#include <cstring>

#include "QVAlgDll.h"
#include "capture_format.h"
#include "log.h"
#include "veko2547_drv.h"

int32_t m_enrol_stage = 1;

namespace {

constexpr int kOpImageSize = 18432;
constexpr int16_t kNoContrast = -31;

// The 8-bit image handed to (or written by) the library.
uint8_t m_opImage[kOpImageSize];
// The device type the library was last initialised for; 0 = never.
int32_t s_initialisedType = 0;

uint16_t productOfDevType(int32_t devType) {
    for (const DeviceModel &model : m_vp)
        if (model.devType == devType && devType != 0) return model.productId;
    return 0;
}

}  // namespace

int fpInit() {
    int rc = -1;
    switch (m_devType) {
    case 1:
        rc = Quorvane_Init(capture::kLibrarySensorType12Bit);
        break;
    case 2:
        rc = Quorvane_Init(capture::kLibrarySensorTypeSplitRows);
        break;
    case 3:
        rc = Quorvane_Init(capture::kLibrarySensorTypePlain);
        break;
    default:
        break;
    }
    _vklog("%s rtt =%d\n", "fpInit", rc);
    return rc;
}

int CreateFingerPrintMinutiae(uint8_t *raw, uint8_t *templ, int32_t *info) {
    if (s_initialisedType != m_devType) {
        fpInit();
        s_initialisedType = m_devType;
    }
    std::memset(m_opImage, 0, sizeof m_opImage);
    std::memset(templ, 0, QV_TEMPLATE_SIZE);
    info[0] = 0;
    info[1] = 0;
    info[2] = static_cast<int32_t>(static_cast<uint32_t>(info[2]) & 0xFFFF0000u);
    info[9] = 0;

    const uint16_t product = productOfDevType(m_devType);
    const capture::SensorFormat *format = capture::findSensorFormat(product);
    if (format == nullptr) return 0;
    static capture::DecodedCapture decoded;
    if (!capture::decodeCapture(product, raw, format->rawLength, &decoded)) return 0;
    const auto w = static_cast<int16_t>(decoded.width);
    const auto h = static_cast<int16_t>(decoded.height);
    int16_t rc;
    if (decoded.sixteenBit) {
        rc = Quorvane_CreateTemplate16(decoded.pixels16, m_opImage, w, h, templ, info);
    } else if (m_devType == 2) {
        std::memcpy(m_opImage, decoded.pixels8, static_cast<size_t>(w) * h);
        rc = Quorvane_CreateTemplate(m_opImage, w, h, templ, info);
    } else {
        // The plain model's image is handed over in the ring slot itself.
        rc = Quorvane_CreateTemplate(raw, w, h, templ, info);
    }
    if (rc == kNoContrast && m_enrol_stage == 1) fpInit();
    return rc;
}

int CreateTemplateAs(int profile, uint8_t *raw, uint8_t *templ, int32_t *info) {
    Quorvane_SetRecognitionProfile(profile);
    return CreateFingerPrintMinutiae(raw, templ, info);
}
