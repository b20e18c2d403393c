// The translation unit that carries the shared precompiled headers; it has no
// code of its own.
