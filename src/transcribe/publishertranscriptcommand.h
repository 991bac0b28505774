#pragma once

class TFormTranscribe;
class UserDialogs;

// "Publisher Transcript" of the Transcribe window: fetches the best of the
// publisher's transcripts of the window's episode and puts its plain text into
// the transcript area, with the status "Publisher transcript" and a beep. A
// failure shows one "ERROR" box and leaves the area and the status as they were.
void showPublisherTranscript(TFormTranscribe &form, UserDialogs &dialogs);
