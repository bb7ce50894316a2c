// Expands a constexpr rule into the initialiser of a plain C array, so that the
// exported tables are computed by the compiler from their rules rather than
// pasted in. QV_SEQ<N>(f, b) expands to f(b + 0), f(b + 1), ..., f(b + N - 1).
#ifndef QV_TABLE_GEN_H
#define QV_TABLE_GEN_H

#define QV_SEQ10(f, b)                                                                                          \
    f((b) + 0), f((b) + 1), f((b) + 2), f((b) + 3), f((b) + 4), f((b) + 5), f((b) + 6), f((b) + 7), f((b) + 8), \
        f((b) + 9)
#define QV_SEQ50(f, b) \
    QV_SEQ10(f, (b) + 0), QV_SEQ10(f, (b) + 10), QV_SEQ10(f, (b) + 20), QV_SEQ10(f, (b) + 30), QV_SEQ10(f, (b) + 40)
#define QV_SEQ90(f, b) \
    QV_SEQ50(f, b), QV_SEQ10(f, (b) + 50), QV_SEQ10(f, (b) + 60), QV_SEQ10(f, (b) + 70), QV_SEQ10(f, (b) + 80)
#define QV_SEQ100(f, b) QV_SEQ50(f, b), QV_SEQ50(f, (b) + 50)
#define QV_SEQ250(f, b) QV_SEQ100(f, b), QV_SEQ100(f, (b) + 100), QV_SEQ50(f, (b) + 200)

#endif
