// Whether the tests run under Wine; never here. Portable tests ask it before relying on
// Windows behaviour that Wine leaves out.
#ifndef OSTARA_TEST_UNDERWINE_H
#define OSTARA_TEST_UNDERWINE_H

inline bool underWine() { return false; }

#endif
