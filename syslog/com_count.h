// The parse's COM initialisations, counted per thread: the parse initialises COM on every call
// and leaves it so, and a datagram thread, which runs many parses, gives them all back before it
// ends.
#pragma once

// CoInitialize(nullptr) for the calling thread; a success (S_OK or S_FALSE) is counted.
long CountedCoInitialize();
// CoUninitialize once for each success counted on the calling thread.
void UninitializeCounted();
