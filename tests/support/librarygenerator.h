#pragma once

#include <QByteArray>
#include <QString>

// Writes a synthetic music library file (the XML property list) with tracks,
// playlists, podcasts and non-ASCII names; optionally also small tagged MP3
// files for the tracks, under "iTunes Media" beside the XML file.
class LibraryGenerator
{
public:
    struct Options
    {
        int mTracks = 100;
        int mPlaylists = 5;
        int mTracksPerPlaylist = 20;
        int mPodcasts = 2;
        int mEpisodesPerPodcast = 3;
        bool mNonAscii = true;
        bool mCreateFiles = false;
        // Embedded picture of the created files: "jpeg", "png" or empty for none.
        QByteArray mArtwork = "jpeg";
        // Where the XML says the media live (another computer's drive by default).
        QString mMusicFolderUrl =
            QStringLiteral("file://localhost/C:/Users/gen/Music/iTunes/iTunes%20Media/");
    };

    LibraryGenerator() = default;
    explicit LibraryGenerator(const Options &aOptions) : mOptions(aOptions) {}

    bool write(const QString &aXmlPath) const;

    QString trackName(int aTrack) const;
    QString albumName(int aTrack) const;
    QString artistName(int aTrack) const;
    int trackNumber(int aTrack) const { return aTrack % 12 + 1; }
    QString playlistName(int aPlaylist) const;
    QString podcastName(int aPodcast) const;
    QString episodeName(int aPodcast, int aEpisode) const;
    // Path below the media folder, "Music/Artist/Album/NN Name.mp3".
    QString trackRelativePath(int aTrack) const;
    QString episodeRelativePath(int aPodcast, int aEpisode) const;
    // The tracks of a playlist, as indexes of tracks.
    QList<int> playlistTracks(int aPlaylist) const;
    // Date added of a track as a day count from 30 December 1899 (UTC).
    qint64 trackDay(int aTrack) const;

    const Options &options() const { return mOptions; }

    static QByteArray minimalMp3(const QByteArray &aPicture, const QByteArray &aMimeType);
    static QByteArray jpegPicture();
    static QByteArray pngPicture();

private:
    Options mOptions;
};
