#include "sync/albumartimage.h"

#include "core/apppaths.h"
#include "core/logger.h"
#include "devices/device.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QSaveFile>

QString AlbumArtImage::defaultPath()
{
    return AppPaths::dataFile(QStringLiteral("AlbumArt.jpg"));
}

bool AlbumArtImage::prepare(const QString &aSourcePath, const QString &aTargetPath)
{
    LogScope scope("AlbumArtImage::prepare");
    Logger &log = Logger::instance();

    QImageReader reader(aSourcePath);
    reader.setAutoTransform(true);
    const QImage image = reader.read();
    QFile::remove(aTargetPath);
    log.value("tempImageFilename", aTargetPath);
    if (image.isNull()) {
        log.text("Image is null - can't proceed");
        log.value("reason", reader.errorString());
        return false;
    }

    const QImage scaledImage =
        image.scaled(MaxSize, MaxSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    if (scaledImage.isNull()) {
        log.text("scaledImage is null");
        return false;
    }

    QImage scaledImageWhiteBackground(scaledImage.size(), QImage::Format_RGB888);
    if (scaledImageWhiteBackground.isNull()) {
        log.text("scaledImageWhiteBackground is null");
        return false;
    }
    scaledImageWhiteBackground.fill(Qt::white);
    // A JPEG comment; a device removes only covers that carry it.
    scaledImageWhiteBackground.setText(QStringLiteral("Software"), Device::CoverMark);
    {
        QPainter painter(&scaledImageWhiteBackground);
        painter.drawImage(0, 0, scaledImage);
    }

    QDir().mkpath(QFileInfo(aTargetPath).absolutePath());
    QSaveFile file(aTargetPath);
    if (!file.open(QIODevice::WriteOnly) || !scaledImageWhiteBackground.save(&file, "JPEG") ||
        !file.commit()) {
        log.value("Error saving image to", aTargetPath);
        return false;
    }
    log.value("Image saved to", aTargetPath);
    return true;
}
