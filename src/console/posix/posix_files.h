#pragma once
// The one step of replacing a file that differs between the builds of the POSIX file layer.

// Makes a file that has just been replaced last: on a disk it already does, and this does nothing
// (posix_disk.cpp); in a web page, where the folder lives in the page's memory, it hands the file
// to the browser's storage and waits until it is kept there (web_files.cpp). False when it could
// not be kept.
bool KeepReplacedFile(const char* path);
