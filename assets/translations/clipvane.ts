<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1">
<context>
    <name>APIClient</name>
    <message>
        <source>an empty reply</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>no content type, not JSON</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>, not JSON</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The service&apos;s reply was not understood (HTTP %1, %2)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>it is not a web address</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>plain http would carry your sign-in in clear text to another computer (use https)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>it is neither https nor http</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The service address “%1” from %2 was refused: %3. Using %4 instead.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>the reply was larger than %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Timed out: the service did not answer within %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Timed out: the service sent its reply too slowly (under %1 in %2)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>the reply&apos;s compressed bytes were damaged</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>the reply came in an encoding this client does not read (%1)</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>APIError</name>
    <message>
        <source>Server error (%1)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Unexpected server response</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Unexpected server response: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Signed out — check your password</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>AskPanel</name>
    <message>
        <source>Something went wrong — try again.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Ask me about your videos — e.g. “Find me a video of me in Paris”, “what did I add this week?”</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>CliCommands</name>
    <message>
        <source>[excluded]</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>[shared by %1]</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>not added “%1”: %2
</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>no YouTube video in “%1”
</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>“%1” is not a usable service address (https, or http on this machine only)
</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>the library is in use by another Clipvane process; waiting up to %1 seconds…
</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>the library is in use by another Clipvane process (%1); waiting up to %2 seconds…
</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>the links could not be queued: %1
</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Queued 1 link.
</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Queued %1 links.
</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>the service refused the token; nothing was changed
</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>the service refused the token (%1)
</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Signed in.
</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Signed in as %1.
</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>the first sync failed: %1
</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Signed out. The library stays on this computer.
</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Signed in</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>yes</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>yes, as %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>no</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Service</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Refused address</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Library</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Videos</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Pending changes</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Queued links</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Sync cursor</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Family revision</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> Use “clipvane-cli share” to queue links for it.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Added %1
</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Already in the library: %1
</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>no video with the ID “%1” in the library
</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 is shared by %2 and cannot be changed here
</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 is already excluded.
</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 is not excluded.
</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Excluded %1
</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Included %1 again
</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Edited %1
</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Marked %1 as watched.
</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Marked %1 as not watched.
</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Marked %1 to resume at %2 seconds.
</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Deleted %1; the next sync deletes it on the service.
</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Deleted %1
</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>not signed in (use “clipvane-cli signin --token-file FILE”)
</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>the library on this computer is new or was replaced: fetching all of it again
</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Synced: 1 video, %1 pending.
</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Synced: %1 videos, %2 pending.
</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Received %1 of %2 videos</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1:%2: not added “%3”: %4
</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Importing… %1% (%2 videos found)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>the service does not offer live changes
</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>…and %L1 more not added
</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>CliFamily</name>
    <message>
        <source>Couldn&apos;t load your family list. (%1)
</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>People who can see my library</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No one yet.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Shared with me</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Declined</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>That didn&apos;t work — check the address and try again. (%1)
</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Shared your library with %1.
</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Stopped sharing your library with %1.
</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Declined the library of %1; its videos leave this library at the next sync.
</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 can share a library with you again.
</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>GroupSettings</name>
    <message>
        <source>Couldn&apos;t create the folder of the shared settings.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The shared settings are in use by another process.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Couldn&apos;t write the shared settings.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>KeptLibraries</name>
    <message>
        <source>The library kept at %1 belongs to another account</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>LibrarySession</name>
    <message>
        <source>The library cannot be written: %1 (permission denied or a read-only disk). Nothing was changed.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>LinkFileReader</name>
    <message>
        <source>%1 is a folder, not a file.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Couldn&apos;t open %1: %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Couldn&apos;t read %1: %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 is not a text file.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No video links in %1.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>PlaylistCsvScan</name>
    <message>
        <source>“%1” is not a video ID.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>SheetStyle</name>
    <message>
        <source>Done</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>SortMode</name>
    <message>
        <source>Newest</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Oldest</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Title</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Longest</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>StoreLock</name>
    <message>
        <source>The library is in use by another Clipvane process. Nothing was changed.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The library is in use by another Clipvane process (%1). Nothing was changed.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The library cannot be written: the folder %1 cannot be created (no permission, or a read-only disk).</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The library cannot be written: %1 (%2). Nothing was changed.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cannot take the lock on the library (%1).</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>VideoStore</name>
    <message>
        <source>Cannot open the library %1: %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The library could not be saved: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The library could not be copied to %1: %2</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>clipvane::AboutSheet</name>
    <message>
        <source>About Clipvane</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Clipvane icon</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Clipvane</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Version %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Keep a personal library of YouTube videos.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Released under the %1 licence.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Project website</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Version</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Licence</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>clipvane::AccountSettingsTab</name>
    <message>
        <source>Signed in as</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Last sync</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Sync now</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Sign out</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>clipvane::AddSheet</name>
    <message>
        <source>Add</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Add a video</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>https://youtu.be/…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>YouTube link</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Clear</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Error</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Paste from clipboard</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Paste a YouTube link. The title, date and length are fetched for you.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>That doesn&apos;t look like a YouTube link.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>clipvane::AddingSettingsTab</name>
    <message>
        <source>Telegram</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Send @%1 any YouTube link and it lands here on the next sync.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Telegram bot</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Copy link</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Link my account</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>On this Mac</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>On this computer</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Safari</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>your browser</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Drag a YouTube link onto the window from %1, or press %2 to add whatever link is on the clipboard.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Copied</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Playback</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Play the next video automatically</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>When a video ends, the next one of the list as it is shown starts after five seconds, unless you cancel it.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>clipvane::AskHeading</name>
    <message>
        <source>ASK </source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>clipvane::AskPanel</name>
    <message>
        <source>Thinking…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Answers from your own library</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Close</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Ask about your videos…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>ASK</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>clipvane::ClipvaneApp</name>
    <message>
        <source>Clipvane</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Clipvane can&apos;t open your library.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>clipvane::ClipvaneCommands</name>
    <message>
        <source>&amp;File</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Add Video…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Add from Clipboard</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Quit</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Edit</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Redo</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cut</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Copy</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Paste</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Select All</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Copy Video Link</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Edit Details…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Exclude / Include</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Delete…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Settings…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;View</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Browse Mode</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Autoplay When I Select a Video</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Play / Pause</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Next Video</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Previous Video</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Library</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Search</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Sort By</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Show Excluded Videos</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Clear Filters</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Ask Clipvane</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Sync Now</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Clipvane Help</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Leave Browse Mode</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Keyboard Shortcuts</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>About Clipvane</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Full Screen</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Leave Full Screen</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cancel the Next Video</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Next Video in Browse Mode</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Previous Video in Browse Mode</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Mark as Watched</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Hide watched videos</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Mark as Unwatched</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Import…</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>clipvane::ConfirmSheet</name>
    <message>
        <source>Cancel</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Delete “%1”?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Confirmation</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>clipvane::DetailInfoPanel</name>
    <message>
        <source>Open in YouTube</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Copy link</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Share</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Edit</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Exclude</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Delete</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Title</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Details</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Include</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Copied</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Upload date</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Length</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Shared by %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Owner</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Mark as Watched</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Mark as Unwatched</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>clipvane::DetailView</name>
    <message>
        <source>This video can&apos;t be played inside the app.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Some videos only allow playback on YouTube itself.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Open in YouTube</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Pick a video from the list</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>This entry isn&apos;t a standard YouTube link.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Open link</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Previous video</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Next video</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Position in the list</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Back to the list (Esc)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 of %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Email Link</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Copy Link</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>clipvane::EditHistory</name>
    <message>
        <source>Undo</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Undo Delete</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Undo Exclude</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Undo Include</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Undo Edit</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Undo Import</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Delete undone: the video is back.</source>
        <translation type="unfinished"></translation>
    </message>
    <message numerus="yes">
        <source>Delete undone: %n videos are back.</source>
        <translation type="unfinished">
            <numerusform></numerusform>
        </translation>
    </message>
    <message>
        <source>Exclude undone: the video is back in the library.</source>
        <translation type="unfinished"></translation>
    </message>
    <message numerus="yes">
        <source>Exclude undone: %n videos are back in the library.</source>
        <translation type="unfinished">
            <numerusform></numerusform>
        </translation>
    </message>
    <message>
        <source>Include undone: the video is excluded again.</source>
        <translation type="unfinished"></translation>
    </message>
    <message numerus="yes">
        <source>Include undone: %n videos are excluded again.</source>
        <translation type="unfinished">
            <numerusform></numerusform>
        </translation>
    </message>
    <message>
        <source>Edit undone: the previous details are back.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Import undone: the video was removed.</source>
        <translation type="unfinished"></translation>
    </message>
    <message numerus="yes">
        <source>Import undone: %n videos were removed.</source>
        <translation type="unfinished">
            <numerusform></numerusform>
        </translation>
    </message>
    <message>
        <source>Nothing was undone.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>1 video changed meanwhile and was left as it is.</source>
        <translation type="unfinished"></translation>
    </message>
    <message numerus="yes">
        <source>%n videos changed meanwhile and were left as they are.</source>
        <translation type="unfinished">
            <numerusform></numerusform>
        </translation>
    </message>
    <message>
        <source>1 video is shared with you and stays as it is.</source>
        <translation type="unfinished"></translation>
    </message>
    <message numerus="yes">
        <source>%n videos are shared with you and stay as they are.</source>
        <translation type="unfinished">
            <numerusform></numerusform>
        </translation>
    </message>
</context>
<context>
    <name>clipvane::EditSheet</name>
    <message>
        <source>Edit details</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>YYYY-MM-DD</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>M:SS</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Title</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Date</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Length</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Save</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>clipvane::EmptyLibraryView</name>
    <message>
        <source>Syncing</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Nothing here yet</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Drag a YouTube link onto this window, or press %1.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Download progress</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>clipvane::FamilySettingsModel</name>
    <message>
        <source>Couldn&apos;t load your family list.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>That didn&apos;t work — check the address and try again.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>clipvane::FamilySettingsTab</name>
    <message>
        <source>People who can see my library</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>name@example.com</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>E-mail address to invite</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Invite</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Family members see your library read-only when they sign in with their own account.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Shared with me</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Decline shared library</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Stop seeing the library %1 shares with you?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Their videos leave this library at the next sync, and they can&apos;t share with you again.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Decline</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Decline %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No one yet.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Can see my library</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Remove</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Remove %1</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>clipvane::FilterBar</name>
    <message>
        <source>Library</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Sort by</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Year</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Excluded</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>All years</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Excluded videos</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Family libraries</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>clipvane::LibraryImport</name>
    <message>
        <source>Import Videos</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Exports, bookmarks and notes (*.csv *.json *.html *.htm *.txt *.md *.eml);;All files (*)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>An import is already running.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Importing… %L1 videos found</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1, line %2: %3</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>…and %L1 more.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Stopping the import…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Stop Import</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Import stopped.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>clipvane::LibraryListView</name>
    <message>
        <source>Videos</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>clipvane::LibraryToolbar</name>
    <message>
        <source>Ask Clipvane</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Ask Clipvane (%1)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Browse mode</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Browse mode (%1)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Add a video</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Add a video (%1)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Settings</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Settings (%1)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Toolbar</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>More buttons</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>clipvane::LibraryView</name>
    <message>
        <source>It will be removed from your library on every device.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Delete video</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>They will be removed from your library on every device.</source>
        <translation type="unfinished"></translation>
    </message>
    <message numerus="yes">
        <source>Delete %n videos?</source>
        <translation type="unfinished">
            <numerusform></numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Delete %n videos</source>
        <translation type="unfinished">
            <numerusform></numerusform>
        </translation>
    </message>
</context>
<context>
    <name>clipvane::LinkImport</name>
    <message>
        <source>Added 1 video.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Added %L1 videos.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%L1 already in your library.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%L1 not added.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>1 file couldn&apos;t be read.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%L1 files couldn&apos;t be read.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No videos found.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>clipvane::LoadingLayer</name>
    <message>
        <source>Loading…</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>clipvane::LocalEdits</name>
    <message>
        <source>A video ID can&apos;t begin with “x-”.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>A video ID can&apos;t be longer than %1 characters.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>That doesn&apos;t look like a YouTube link.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Added 1 video.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Added %1 videos.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Already in your library.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 already in your library.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Not added: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 not added: %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>That video is no longer in the library.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>That video belongs to a shared library; only its owner can change it.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Couldn&apos;t save the library; the change is kept and saved with the next one.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>clipvane::MainWindow</name>
    <message>
        <source>Clipvane</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Player and browse mode</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> or </source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>clipvane::OnboardingView</name>
    <message>
        <source>Clipvane</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Your library follows your account across every device.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Continue with Google</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Sign-in error</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Couldn&apos;t open your web browser to sign in.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Google sign-in failed. Check your connection.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Couldn&apos;t save your sign-in.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>clipvane::PrivacySettingsTab</name>
    <message>
        <source>Export my data…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Everything Clipvane holds about you, as a JSON file.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Danger zone</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Delete my account…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Deleting your account permanently erases your library and personal data from Clipvane. This cannot be undone.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Export failed — try again.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Saved to %1.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Couldn&apos;t delete the account — try again.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Export my data</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>JSON (*.json)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Delete your account?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Your library and personal data are erased from Clipvane permanently.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Delete account</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>clipvane::RowMenu</name>
    <message>
        <source>Shared by %1 — read only</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Include back in library</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Exclude</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Edit details…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Copy link</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Open in YouTube</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Delete…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Mark as Unwatched</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Mark as Watched</source>
        <translation type="unfinished"></translation>
    </message>
    <message numerus="yes">
        <source>Exclude %n videos</source>
        <translation type="unfinished">
            <numerusform></numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Include %n videos back in library</source>
        <translation type="unfinished">
            <numerusform></numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Delete %n videos…</source>
        <translation type="unfinished">
            <numerusform></numerusform>
        </translation>
    </message>
    <message>
        <source>1 shared video stays as it is</source>
        <translation type="unfinished"></translation>
    </message>
    <message numerus="yes">
        <source>%n shared videos stay as they are</source>
        <translation type="unfinished">
            <numerusform></numerusform>
        </translation>
    </message>
</context>
<context>
    <name>clipvane::RowText</name>
    <message>
        <source>excluded</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>waiting to sync</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>playing</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>shared by %1</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>clipvane::SearchRow</name>
    <message>
        <source>Search</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Clear search</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>clipvane::SelectionPane</name>
    <message>
        <source>Exclude</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Include back in library</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Delete…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Videos selected</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Shared videos in the selection</source>
        <translation type="unfinished"></translation>
    </message>
    <message numerus="yes">
        <source>%n videos selected</source>
        <translation type="unfinished">
            <numerusform></numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Exclude %n videos</source>
        <translation type="unfinished">
            <numerusform></numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Include %n videos back in library</source>
        <translation type="unfinished">
            <numerusform></numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Delete %n videos</source>
        <translation type="unfinished">
            <numerusform></numerusform>
        </translation>
    </message>
    <message>
        <source>A change here applies to each of them; %1 takes it back.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>clipvane::SettingsView</name>
    <message>
        <source>Settings</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Account</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Family</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Adding videos</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Data &amp; privacy</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>clipvane::ShortcutsSheet</name>
    <message>
        <source>Keyboard Shortcuts</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Keyboard shortcuts</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>clipvane::SignInConfirmation</name>
    <message>
        <source>an account the link does not name</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Clipvane</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Sign in with this link?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Sign in as %1?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>A sign-in link asks Clipvane to sign in as %1. Continue only if you started this sign-in yourself.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Sign In</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Switch to another account?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Switch to %1?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>A sign-in link asks Clipvane to replace the account you are signed in with (%1) by %2. Continue only if you started this sign-in yourself. The library of %1 stays on this computer, changes not yet sent included, and comes back when %1 signs in again.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Switch Account</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>clipvane::StatusLine</name>
    <message>
        <source>Videos listed</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Sync status</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Last addition</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Service address</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Stop</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>clipvane::StatusText</name>
    <message>
        <source>Search %1 videos</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 of %2 videos</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Syncing…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Downloading %1%</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Synced %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Downloading your library…</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>clipvane::SyncEngine</name>
    <message>
        <source>Couldn&apos;t save your sign-in to the keychain.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Couldn&apos;t set aside the library of %1, so no one else was signed in: %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Signed out</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Couldn&apos;t save the library.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>the service kept sending pages past the %1 videos it announced</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>clipvane::UpNextCard</name>
    <message>
        <source>Cancel</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Play now</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Up next</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Playing in 1 second</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Playing in %1 seconds</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Next video</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Countdown</source>
        <translation type="unfinished"></translation>
    </message>
</context>
</TS>
