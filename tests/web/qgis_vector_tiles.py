"""QGIS's vector tile layer (python3-qgis, headless) on a service's vector tiles: the layer is
made from the address template as QGIS's dialog makes it, drawn over a box of EPSG:3857 into a
picture, and the share of pixels that are not the background is printed.

Run: QT_QPA_PLATFORM=offscreen /usr/bin/python3 qgis_vector_tiles.py TEMPLATE ZMAX MINX MINY MAXX MAXY OUT.png
"""
import sys

from PyQt5.QtCore import QSize
from PyQt5.QtGui import QColor
from qgis.core import (QgsApplication, QgsCoordinateReferenceSystem, QgsMapRendererParallelJob,
                       QgsMapSettings, QgsRectangle, QgsVectorTileLayer)


def main():
    template, zmax, out = sys.argv[1], sys.argv[2], sys.argv[7]
    box = QgsRectangle(*map(float, sys.argv[3:7]))
    QgsApplication.setPrefixPath("/usr", True)
    app = QgsApplication([b"qgis_vector_tiles"], False)  # an empty argument list crashes QGIS 3.22
    app.initQgis()
    layer = QgsVectorTileLayer(f"type=xyz&url={template}&zmin=0&zmax={zmax}", "kestrel")
    share = None
    if layer.isValid():
        settings = QgsMapSettings()
        settings.setLayers([layer])
        settings.setDestinationCrs(QgsCoordinateReferenceSystem("EPSG:3857"))
        settings.setExtent(box)
        settings.setOutputSize(QSize(512, 512))
        settings.setBackgroundColor(QColor(255, 255, 255))
        job = QgsMapRendererParallelJob(settings)
        job.start()
        job.waitForFinished()
        image = job.renderedImage()
        image.save(out)
        white = QColor(255, 255, 255).rgb()
        inked = sum(1 for y in range(0, 512, 2) for x in range(0, 512, 2) if image.pixel(x, y) != white)
        share = inked / (256 * 256)
    del layer  # a layer left at exitQgis() crashes QGIS 3.22
    app.exitQgis()
    print(share)


if __name__ == "__main__":
    main()
