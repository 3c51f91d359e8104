// First on a core library's include path: its files are standard C++ only.
#error "a portable core file includes <winsock2.h>"
