#pragma once

#include "feeds/episode.h"

#include <QString>

class IniDocument;
class QWidget;
class UserDialogs;

// What the Transcribe command needs of the window that shows the episode list.
class TranscribeHost
{
public:
    virtual ~TranscribeHost() = default;

    // The episode row the command works on: the first selected row.
    struct SelectedEpisode
    {
        bool selected = false;  // false: no row is selected
        QString url;            // its media address, as the list shows it
        QString filePath;       // its plain target path, from its title and the download location
        TranscriptLinks transcripts = {};  // the publisher's transcripts of its item
        QString feedLanguage = {};         // the language of the feed it came from
    };

    virtual QWidget *transcribeParent() = 0;
    virtual IniDocument &settings() = 0;
    virtual UserDialogs &dialogs() = 0;
    // Whether a batch of downloads is running.
    virtual bool downloadsRunning() const = 0;
    virtual SelectedEpisode selectedEpisode() const = 0;
};
