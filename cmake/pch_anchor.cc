// Gives the shared precompiled header a file to be compiled with.
