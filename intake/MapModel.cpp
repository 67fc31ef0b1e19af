#include "intake/MapModel.h"

QSet<QString> sceneriesInUse(const MapFileContents &map) {
    QSet<QString> used;
    for (const MapProp &prop : map.props) {
        if (prop.drawn() && prop.style >= 1 && prop.style <= map.sceneryNames.size())
            used.insert(map.sceneryNames.at(prop.style - 1).toLower());
    }
    used.remove(QString());
    return used;
}
