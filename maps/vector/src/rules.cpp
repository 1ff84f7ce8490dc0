// rules.cpp: what each resolution shows, and the byte limit's drop order.
#include "rules.h"

namespace kmaps::vector::rules {

bool place_label_shown(int type, double resolution) {
    if (!(resolution > kPlaceLabelsMin)) return false;
    switch (type) {
        case 21:
            return true;
        case 22:
            return resolution <= 25.1;
        case 23:
            return resolution <= 15.1;
        case 24:
            return resolution <= 8.1;
        default:
            return false;
    }
}

bool catalogue_label_shown(kestrel::data::PlaceKind kind, double resolution) {
    return kind == kestrel::data::PLACE_CITY ||
           (kind == kestrel::data::PLACE_POINT && resolution <= kCataloguePointMax) ||
           (kind == kestrel::data::PLACE_MINOR && resolution <= kCatalogueMinorMax);
}

int drop_rank(Layer layer, int type) {
    // Points of interest first, then the minor labels and roads, the other lines and areas,
    // then the major roads, borders and labels; the catalogue's cities last.
    switch (layer) {
        case Layer::pois:
            return 0;
        case Layer::places:
            return type == 24 ? 1 : type == 23 ? 2 : type == 22 ? 14 : 18;
        case Layer::roads:
            switch (type) {
                case 3:
                    return 3;
                case 9:
                    return 4;
                case 8:
                    return 5;
                case 7:
                    return 6;
                case 6:
                    return 10;
                case 2:
                    return 11;
                case 5:
                    return 12;
                case 1:
                    return 15;
                default:
                    return 16;  // 4, motorways
            }
        case Layer::lines:
            return type == 14 ? 7 : type == 13 ? 13 : 8;
        case Layer::areas:
            return 9;
        case Layer::overview:
            return 17;
        default:
            return 18;
    }
}

}  // namespace kmaps::vector::rules
