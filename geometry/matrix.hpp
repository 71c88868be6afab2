#pragma once
// A small dense matrix with shared, reference-counted storage.
//
// Copying and assigning a matrixT share its representation; an operation
// that changes a matrix in place first gives it a representation of its own
// (copy on write). Every arithmetic operator returns a newly allocated matrix
// and leaves its operands unchanged. Size and index violations raise
// math::matrix_error with a fixed message. Each row is its own allocation
// reached through a table of row pointers, so exchanging two rows is an
// exchange of two pointers.
//
// A matrix and every matrix sharing its representation belong to one thread:
// the reference count is a plain int.
//
// This is the only place in the program that uses new/delete directly; the
// representation owns its rows and releases them on every path.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>

#include "platform/clock.hpp"

namespace math {

// The one error of the matrix template. Its messages all begin with
// "matrixT::operator".
class matrix_error : public std::logic_error {
public:
    explicit matrix_error(const std::string& message) : std::logic_error(message) {}
    explicit matrix_error(const char* message) : std::logic_error(message) {}
};

template <class T>
class matrixT;

template <class T>
matrixT<T> operator+(const matrixT<T>& a, const matrixT<T>& b);
template <class T>
matrixT<T> operator-(const matrixT<T>& a, const matrixT<T>& b);
template <class T>
matrixT<T> operator*(const matrixT<T>& a, const matrixT<T>& b);
template <class T>
matrixT<T> Transpose(const matrixT<T>& m);
template <class T>
matrixT<T> operator!(matrixT<T> m);

template <class T>
class matrixT {
public:
    // rows x cols, reference count 1. The elements are zero until set.
    // A negative size, or a row table or row whose byte size does not fit in
    // 32 bits, throws std::bad_alloc like any allocation that cannot be met.
    matrixT(int rows, int cols) : m_rep(new MatrixRep(rows, cols, nullptr)) {}

    // Shares other's representation.
    matrixT(const matrixT& other) noexcept : m_rep(other.m_rep) { ++m_rep->m_refCount; }

    // Takes a reference to other's representation before letting go of the
    // old one, so self-assignment is safe.
    matrixT& operator=(const matrixT& other) noexcept {
        MatrixRep* const shared = other.m_rep;
        ++shared->m_refCount;
        Release();
        m_rep = shared;
        return *this;
    }

    ~matrixT() { Release(); }

    int Rows() const noexcept { return m_rep->m_rows; }
    int Cols() const noexcept { return m_rep->m_cols; }
    // Number of matrices sharing this matrix's representation.
    int RefCount() const noexcept { return m_rep->m_refCount; }

    // Row i of the current representation. Does not detach a shared
    // representation: write through it only into a matrix that has just
    // been created and not yet shared. Negative indices are rejected too.
    T* operator[](int i) {
        CheckRow(i, "matrixT::operator[]: Index out of range!");
        return m_rep->m_row[i];
    }
    const T* operator[](int i) const {
        CheckRow(i, "matrixT::operator[]: Index out of range!");
        return m_rep->m_row[i];
    }

    // Element (i, j). The non-const form detaches a shared representation
    // after the index check, so a change through it is never seen by
    // another matrix; the const form only reads.
    T& operator()(int i, int j) {
        CheckElement(i, j);
        if (m_rep->m_refCount > 1) {
            MakeUnique();
        }
        return m_rep->m_row[i][j];
    }
    const T& operator()(int i, int j) const {
        CheckElement(i, j);
        return m_rep->m_row[i][j];
    }

    void SetZero() {
        if (m_rep->m_refCount > 1) {
            MakeUnique();
        }
        for (int i = 0; i < m_rep->m_rows; ++i) {
            for (int j = 0; j < m_rep->m_cols; ++j) {
                m_rep->m_row[i][j] = T(0.0);
            }
        }
    }

    // Becomes the identity of the smaller of rows and cols. The storage is
    // kept: only the sizes in use shrink.
    void SetIdentity() {
        if (m_rep->m_refCount > 1) {
            MakeUnique();
        }
        const int n = std::min(m_rep->m_rows, m_rep->m_cols);
        m_rep->m_rows = n;
        m_rep->m_cols = n;
        for (int i = 0; i < n; ++i) {
            for (int j = 0; j < n; ++j) {
                m_rep->m_row[i][j] = (i == j) ? T(1.0) : T(0.0);
            }
        }
    }

private:
    struct MatrixRep {
        T** m_row;         // one pointer per allocated row
        int m_rows;        // rows in use
        int m_cols;        // columns in use
        int m_allocRows;   // rows allocated, released with the representation
        int m_allocCols;   // elements allocated in each row
        int m_refCount;    // matrices sharing this representation

        // rows x cols; with a source, copies cols elements of each source row.
        MatrixRep(int rows, int cols, T* const* source)
            : m_row(nullptr), m_rows(rows), m_cols(cols), m_allocRows(rows), m_allocCols(cols),
              m_refCount(1) {
            CheckAllocation(rows, sizeof(T*));
            CheckAllocation(cols, sizeof(T));
            m_row = new T*[rows]();
            int made = 0;
            try {
                for (; made < rows; ++made) {
                    m_row[made] = new T[cols]();
                    if (source != nullptr) {
                        std::copy(source[made], source[made] + cols, m_row[made]);
                    }
                }
            } catch (...) {
                for (int i = 0; i < made; ++i) {
                    delete[] m_row[i];
                }
                delete[] m_row;
                throw;
            }
        }

        ~MatrixRep() {
            for (int i = 0; i < m_allocRows; ++i) {
                delete[] m_row[i];
            }
            delete[] m_row;
        }

        MatrixRep(const MatrixRep&) = delete;
        MatrixRep& operator=(const MatrixRep&) = delete;

        static void CheckAllocation(int count, std::size_t elementSize) {
            constexpr std::uint64_t kLimit = std::numeric_limits<std::uint32_t>::max();
            if (count < 0 || static_cast<std::uint64_t>(count) * elementSize > kLimit) {
                throw std::bad_alloc();
            }
        }
    };

    void Release() noexcept {
        if (--m_rep->m_refCount == 0) {
            delete m_rep;
        }
        m_rep = nullptr;
    }

    // Replaces a shared representation, for this matrix only, by a copy of
    // the sizes in use. The old one is let go only once the copy exists.
    void MakeUnique() {
        MatrixRep* const copy = new MatrixRep(m_rep->m_rows, m_rep->m_cols, m_rep->m_row);
        --m_rep->m_refCount;
        m_rep = copy;
    }

    void CheckRow(int i, const char* message) const {
        if (i < 0 || i >= m_rep->m_rows) {
            throw matrix_error(message);
        }
    }

    void CheckElement(int i, int j) const {
        if (i < 0 || i >= m_rep->m_rows || j < 0 || j >= m_rep->m_cols) {
            throw matrix_error("matrixT::operator(): Index out of range!");
        }
    }

    // Row tables, for the operators below that fill a freshly made result.
    T** RowTable() noexcept { return m_rep->m_row; }
    T* const* RowTable() const noexcept { return m_rep->m_row; }

    // Pivot search of the inverse in column i of w: the row of largest
    // nonzero magnitude, the first of equal ones; no tolerance. Exchanges it
    // with row i and returns it.
    static int FindPivot(matrixT& w, int i);

    friend matrixT operator+<>(const matrixT& a, const matrixT& b);
    friend matrixT operator-<>(const matrixT& a, const matrixT& b);
    friend matrixT operator*<>(const matrixT& a, const matrixT& b);
    friend matrixT Transpose<>(const matrixT& m);
    friend matrixT operator!<>(matrixT m);

    MatrixRep* m_rep;
};

template <class T>
int matrixT<T>::FindPivot(matrixT& w, int i) {
    T* const* const row = w.RowTable();
    const int n = w.Rows();
    T best = T(-1.0);
    int chosen = i;
    for (int k = i; k < n; ++k) {
        const T v = std::fabs(row[k][i]);
        if (v > best && v != T(0.0)) {
            best = v;
            chosen = k;
        }
    }
    if (row[chosen][i] == T(0.0)) {
        throw matrix_error("matrixT::operator!: Inversion of a singular matrix");
    }
    if (chosen != i) {
        std::swap(w.RowTable()[i], w.RowTable()[chosen]);
    }
    return chosen;
}

template <class T>
matrixT<T> operator+(const matrixT<T>& a, const matrixT<T>& b) {
    if (a.Rows() != b.Rows() || a.Cols() != b.Cols()) {
        throw matrix_error("matrixT::operator+ : Inconsistent matrix sizes in addition!");
    }
    matrixT<T> sum(a.Rows(), a.Cols());
    T* const* const out = sum.RowTable();
    T* const* const x = a.RowTable();
    T* const* const y = b.RowTable();
    for (int i = 0; i < a.Rows(); ++i) {
        for (int j = 0; j < a.Cols(); ++j) {
            out[i][j] = x[i][j] + y[i][j];
        }
    }
    return sum;
}

template <class T>
matrixT<T> operator-(const matrixT<T>& a, const matrixT<T>& b) {
    if (a.Rows() != b.Rows() || a.Cols() != b.Cols()) {
        // The wording says "addition" for the difference too.
        throw matrix_error("matrixT::operator- : Inconsistent matrix sizes in addition!");
    }
    matrixT<T> difference(a.Rows(), a.Cols());
    T* const* const out = difference.RowTable();
    T* const* const x = a.RowTable();
    T* const* const y = b.RowTable();
    for (int i = 0; i < a.Rows(); ++i) {
        for (int j = 0; j < a.Cols(); ++j) {
            out[i][j] = x[i][j] - y[i][j];
        }
    }
    return difference;
}

// Each element starts at 0.0 and accumulates a(i, k) * b(k, j) for
// k = 0, 1, ... in this order.
template <class T>
matrixT<T> operator*(const matrixT<T>& a, const matrixT<T>& b) {
    if (a.Cols() != b.Rows()) {
        throw matrix_error("matrixT::operator* : Inconsistent matrix sizes in multiplication!");
    }
    matrixT<T> product(a.Rows(), b.Cols());
    T* const* const out = product.RowTable();
    T* const* const x = a.RowTable();
    T* const* const y = b.RowTable();
    for (int i = 0; i < a.Rows(); ++i) {
        for (int j = 0; j < b.Cols(); ++j) {
            T sum = T(0.0);
            for (int k = 0; k < a.Cols(); ++k) {
                sum = sum + x[i][k] * y[k][j];
            }
            out[i][j] = sum;
        }
    }
    return product;
}

template <class T>
matrixT<T> Transpose(const matrixT<T>& m) {
    matrixT<T> result(m.Cols(), m.Rows());
    T* const* const out = result.RowTable();
    T* const* const in = m.RowTable();
    for (int i = 0; i < m.Rows(); ++i) {
        for (int j = 0; j < m.Cols(); ++j) {
            out[j][i] = in[i][j];
        }
    }
    return result;
}

// Inverse by Gauss-Jordan elimination with partial pivoting by rows, on a
// private copy of the operand. Square matrices of more than 100 rows report
// progress on std::cout every 100 rows: the row number, then the seconds
// since the previous report (single precision), one line each.
template <class T>
matrixT<T> operator!(matrixT<T> m) {
    float mark = static_cast<float>(georef::platform::TickCountMs()) / 1000.0f;
    if (m.Rows() != m.Cols()) {
        throw matrix_error("matrixT::operator!: Inversion of a non-square matrix");
    }
    const int n = m.Rows();

    matrixT<T> w(m);
    w.MakeUnique();  // m is never changed
    matrixT<T> r(n, n);
    r.SetIdentity();

    for (int i = 0; i < n; ++i) {
        if (n > 100 && i % 100 == 0) {
            std::cout << i << std::endl;
            const float now = static_cast<float>(georef::platform::TickCountMs()) / 1000.0f;
            const float elapsed = now - mark;
            std::cout << elapsed << std::endl;
            mark = static_cast<float>(georef::platform::TickCountMs()) / 1000.0f;
        }

        const int chosen = matrixT<T>::FindPivot(w, i);
        if (chosen != i) {
            std::swap(r.RowTable()[i], r.RowTable()[chosen]);
        }

        T* const* const wr = w.RowTable();
        T* const* const rr = r.RowTable();

        const T pivot = wr[i][i];
        for (int k = 0; k < n; ++k) {
            wr[i][k] = wr[i][k] / pivot;
            rr[i][k] = rr[i][k] / pivot;
        }

        for (int j = 0; j < n; ++j) {
            if (j == i) {
                continue;
            }
            const T d = wr[j][i];
            for (int k = 0; k < n; ++k) {
                wr[j][k] = wr[j][k] - wr[i][k] * d;
                rr[j][k] = rr[j][k] - rr[i][k] * d;
            }
        }
    }
    return r;
}

}  // namespace math
