#include "library/trackartworkreader.h"

#include "config.h"

#include <QFile>

#if HAVE_TAGLIB
#include <taglib/attachedpictureframe.h>
#include <taglib/flacfile.h>
#include <taglib/flacpicture.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4coverart.h>
#include <taglib/mp4file.h>
#include <taglib/mp4tag.h>
#include <taglib/mpegfile.h>
#include <taglib/oggflacfile.h>
#include <taglib/opusfile.h>
#include <taglib/vorbisfile.h>
#include <taglib/xiphcomment.h>
#endif

qint32 TrackArtworkReader::formatOf(const QByteArray &aData, const QString &aMimeType)
{
    if (aData.startsWith("\xFF\xD8\xFF"))
        return 1;
    if (aData.startsWith("\x89PNG"))
        return 2;
    if (aData.startsWith("BM"))
        return 3;
    if (!aData.isEmpty())
        return 0;
    const QString mime = aMimeType.toLower();
    if (mime == QLatin1String("image/jpeg") || mime == QLatin1String("image/jpg"))
        return 1;
    if (mime == QLatin1String("image/png"))
        return 2;
    if (mime == QLatin1String("image/bmp"))
        return 3;
    return 0;
}

#if HAVE_TAGLIB
namespace {

QByteArray toBytes(const TagLib::ByteVector &aData)
{
    return QByteArray(aData.data(), int(aData.size()));
}

void add(QList<LibrarySnapshot::Artwork> &aList, const TagLib::ByteVector &aData,
         const TagLib::String &aMime)
{
    LibrarySnapshot::Artwork artwork;
    artwork.mData = toBytes(aData);
    artwork.mFormat =
        TrackArtworkReader::formatOf(artwork.mData, QString::fromUtf8(aMime.toCString(true)));
    aList.append(artwork);
}

void addXiph(QList<LibrarySnapshot::Artwork> &aList, TagLib::Ogg::XiphComment *aComment)
{
    if (!aComment)
        return;
    for (TagLib::FLAC::Picture *picture : aComment->pictureList())
        add(aList, picture->data(), picture->mimeType());
}

} // namespace
#endif

QList<LibrarySnapshot::Artwork> TrackArtworkReader::read(const QString &aPath)
{
    QList<LibrarySnapshot::Artwork> pictures;
#if HAVE_TAGLIB
    const QByteArray name = QFile::encodeName(aPath);
    const QString lower = aPath.toLower();
    if (!QFile::exists(aPath))
        return pictures;
    if (lower.endsWith(QLatin1String(".mp3"))) {
        TagLib::MPEG::File file(name.constData(), false);
        if (file.isValid() && file.hasID3v2Tag()) {
            for (TagLib::ID3v2::Frame *frame : file.ID3v2Tag()->frameListMap()["APIC"]) {
                auto *picture = dynamic_cast<TagLib::ID3v2::AttachedPictureFrame *>(frame);
                if (picture)
                    add(pictures, picture->picture(), picture->mimeType());
            }
        }
    } else if (lower.endsWith(QLatin1String(".m4a")) || lower.endsWith(QLatin1String(".m4p")) ||
               lower.endsWith(QLatin1String(".m4b")) || lower.endsWith(QLatin1String(".mp4")) ||
               lower.endsWith(QLatin1String(".aac"))) {
        TagLib::MP4::File file(name.constData(), false);
        if (file.isValid() && file.tag() && file.tag()->contains("covr")) {
            for (const TagLib::MP4::CoverArt &cover : file.tag()->item("covr").toCoverArtList())
                add(pictures, cover.data(), TagLib::String());
        }
    } else if (lower.endsWith(QLatin1String(".flac"))) {
        TagLib::FLAC::File file(name.constData(), false);
        if (file.isValid()) {
            for (TagLib::FLAC::Picture *picture : file.pictureList())
                add(pictures, picture->data(), picture->mimeType());
        }
    } else if (lower.endsWith(QLatin1String(".ogg")) || lower.endsWith(QLatin1String(".oga"))) {
        TagLib::Ogg::Vorbis::File file(name.constData(), false);
        if (file.isValid())
            addXiph(pictures, file.tag());
    } else if (lower.endsWith(QLatin1String(".opus"))) {
        TagLib::Ogg::Opus::File file(name.constData(), false);
        if (file.isValid())
            addXiph(pictures, file.tag());
    }
#else
    Q_UNUSED(aPath);
#endif
    return pictures;
}
