#include "contact_sheet.h"

#include <algorithm>

#include "master_print.h"
#include "sensor_output.h"

namespace fpgen {

namespace {

constexpr int kGap = 8;
constexpr uint8_t kPaper = 255;
constexpr uint8_t kFrame = 128;

void paste(imageio::GrayImage &sheet, const imageio::GrayImage &tile, int left, int top) {
    for (int y = -1; y <= tile.height; ++y) {
        for (int x = -1; x <= tile.width; ++x) {
            const int sx = left + x, sy = top + y;
            if (sx < 0 || sy < 0 || sx >= sheet.width || sy >= sheet.height) continue;
            const bool border = x < 0 || y < 0 || x == tile.width || y == tile.height;
            sheet.at(sx, sy) = border ? kFrame : tile.at(x, y);
        }
    }
}

}  // namespace

imageio::GrayImage contactSheet(const SheetSettings &settings) {
    int rowWidth = 0, rowHeight = 0;
    for (const SensorModel &model : kSensorModels) {
        rowWidth += model.width + kGap;
        rowHeight = std::max(rowHeight, model.height);
    }
    const int tileWidth = std::max(kMasterWidth, rowWidth - kGap) + 2 * kGap;
    const int tileHeight = kMasterHeight + settings.impressionRows * (rowHeight + kGap) + 2 * kGap;
    const int count = static_cast<int>(settings.seeds.size());
    const int columns = std::max(1, std::min(settings.columns, count));
    const int rows = (count + columns - 1) / columns;
    imageio::GrayImage sheet(columns * tileWidth + kGap, std::max(1, rows) * tileHeight + kGap, kPaper);

    for (int n = 0; n < count; ++n) {
        const int left = kGap + (n % columns) * tileWidth, top = kGap + (n / columns) * tileHeight;
        const MasterPrint master = generateMaster(settings.seeds[static_cast<size_t>(n)]);
        paste(sheet, composeGray8(renderFullPrint(master)), left, top);
        for (int row = 0; row < settings.impressionRows; ++row) {
            int x = left;
            const int y = top + kMasterHeight + kGap + row * (rowHeight + kGap);
            for (const SensorModel &model : kSensorModels) {
                const ImpressionParams params =
                    impressionFor(master, model.width, model.height, model.productId, row, settings.placement);
                paste(sheet, composeGray8(renderImpression(master, params, model.width, model.height)), x, y);
                x += model.width + kGap;
            }
        }
    }
    return sheet;
}

}  // namespace fpgen
