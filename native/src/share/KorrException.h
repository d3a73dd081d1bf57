// Root of the runtime's exception family: a catalogue message plus an owned copy of its
// cause. Deliberately not derived from std::exception, so standard handlers never catch it.
#ifndef OSTARA_KORREXCEPTION_H
#define OSTARA_KORREXCEPTION_H

#include <iosfwd>
#include <string>

class KorrException
{
public:
    explicit KorrException(const std::string& message);
    KorrException(const std::string& message, const KorrException* cause);
    KorrException(const KorrException& other);
    KorrException& operator=(const KorrException& other);
    virtual ~KorrException();

    std::string getMessage() const;
    bool hasCause() const { return cause != nullptr; }
    // A copy of the cause; an exception without one yields an empty KorrException.
    KorrException getCause() const;
    virtual std::string toString() const;

protected:
    // The plain class name printed by toString ("class <name>: ..."), the same on every compiler.
    virtual const char* className() const { return "KorrException"; }

private:
    std::string message;
    KorrException* cause;
};

std::ostream& operator<<(std::ostream& out, const KorrException& e);

// Subclasses add nothing but their name; these macros keep the ten of them identical.
#define KORR_DECLARE_EXCEPTION(Name, Base)                          \
    class Name : public Base                                        \
    {                                                               \
    public:                                                         \
        explicit Name(const std::string& message);                  \
        Name(const Name& other);                                    \
        Name& operator=(const Name& other);                         \
        ~Name() override;                                           \
                                                                    \
    protected:                                                      \
        const char* className() const override { return #Name; }    \
    };

#define KORR_DEFINE_EXCEPTION(Name, Base)                                          \
    Name::Name(const std::string& message) : Base(message) {}                      \
    Name::Name(const Name& other) : Base(other) {}                                 \
    Name& Name::operator=(const Name& other) { Base::operator=(other); return *this; } \
    Name::~Name() {}

#endif
