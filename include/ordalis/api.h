#pragma once
// ORDALIS_API marks what libordalis.so exports to its clients: the SDK's classes, so that their
// type information is one and the same on both sides of the library boundary (a
// std::dynamic_pointer_cast or a catch across it sees one type), and the few functions the
// library defines for its clients (the class factory, the id source, the item type names).
// Everything else in the library is built with hidden visibility and stays internal.
#define ORDALIS_API __attribute__((visibility("default")))
