"""QGIS's OGC API Features client (its OAPIF provider, python3-qgis) on a service: every
collection the service lists is opened as QGIS's dialog opens it, and the features in a box
are counted. Prints one JSON object: {collection: number of features, or null when QGIS
cannot open the layer}.

Run: QT_QPA_PLATFORM=offscreen /usr/bin/python3 qgis_oapif.py BASE_URL MINLON MINLAT MAXLON MAXLAT
"""
import json
import sys
import urllib.request

from qgis.core import QgsApplication, QgsFeatureRequest, QgsRectangle, QgsVectorLayer


def main():
    base = sys.argv[1]
    box = QgsRectangle(*map(float, sys.argv[2:6]))
    QgsApplication.setPrefixPath("/usr", True)
    app = QgsApplication([b"qgis_oapif"], False)  # an empty argument list crashes QGIS 3.22
    app.initQgis()
    found = {}
    with urllib.request.urlopen(base + "/collections") as answer:
        collections = json.load(answer)["collections"]
    for c in collections:
        layer = QgsVectorLayer(f"url='{base}' typename='{c['id']}'", c["id"], "OAPIF")
        found[c["id"]] = (sum(1 for _ in layer.getFeatures(QgsFeatureRequest().setFilterRect(box)))
                          if layer.isValid() else None)
        del layer  # a layer left at exitQgis() crashes QGIS 3.22
    app.exitQgis()
    print(json.dumps(found))


if __name__ == "__main__":
    main()
