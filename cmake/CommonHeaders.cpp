// Only there to compile the libraries' precompiled headers.
