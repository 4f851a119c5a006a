// Gives the shared precompiled test headers a target to be built for.
