#include "Sentova/CommandSerialiser.h"

#include "AddressText.h"

#include "Sentova/CommandTable.h"
#include "Sentova/Encoding.h"

#include <cassert>
#include <initializer_list>

namespace tavrel {

namespace {

// One argument value, in the form its field's encoding packs.
class Value {
public:
    Value(double number) : m_number(number) {}
    Value(unsigned int integer) : m_integer(integer) {}
    Value(const std::string& bytes) : m_bytes(&bytes) {}
    Value(const std::vector<Parameter>& parameters) : m_parameters(&parameters) {}

    void appendAs(FieldEncoding encoding, std::string& out) const {
        switch (encoding) {
        case FieldEncoding::Angle:
            out += PackAngle(m_number);
            return;
        case FieldEncoding::Speed:
            out += PackSpeed(m_number);
            return;
        case FieldEncoding::Acceleration:
            out += PackAcceleration(m_number);
            return;
        case FieldEncoding::Lines:
            out += PackNLines(m_number);
            return;
        case FieldEncoding::U8:
            out += PackArg8(static_cast<signed char>(m_integer & 0xFFu));
            return;
        case FieldEncoding::U16:
        case FieldEncoding::Hundredths:
        case FieldEncoding::SignedHundredths:
            out += PackArg16(static_cast<short>(m_integer & 0xFFFFu));
            return;
        case FieldEncoding::U32:
            out += PackArg32(static_cast<int>(m_integer));
            return;
        case FieldEncoding::Text:
            out += *m_bytes;
            return;
        case FieldEncoding::Parameters:
            out.reserve(out.size() + kParameterSize * m_parameters->size());
            for (const Parameter& p : *m_parameters)
                out += PackArg8(p.id) + PackArg32(p.value);
            return;
        case FieldEncoding::Zero: // placed by Build; takes no value
            return;
        }
    }

private:
    double m_number = 0.0;
    unsigned int m_integer = 0;
    const std::string* m_bytes = nullptr;
    const std::vector<Parameter>* m_parameters = nullptr;
};

// The code, then each value packed by the command's fields in wire order; a
// Zero field takes no value.
std::string Build(const char* code, std::initializer_list<Value> values = {}) {
    const CommandInfo* command = FindCommand(code);
    assert(command != nullptr);
    std::string out(code);
    const Value* value = values.begin();
    for (const Field& field : command->arguments) {
        if (field.encoding == FieldEncoding::Zero) {
            out += '\0';
            continue;
        }
        assert(value != values.end());
        (value++)->appendAs(field.encoding, out);
    }
    assert(value == values.end());
    return out;
}

unsigned int Flag(bool flag) {
    return flag ? 1u : 0u;
}

} // namespace

std::string CommandSerialiser::SVCQRE() {
    return Build("SVCQRE");
}
std::string CommandSerialiser::SVHOME() {
    return Build("SVHOME");
}
std::string CommandSerialiser::SVSTOP() {
    return Build("SVSTOP");
}
std::string CommandSerialiser::SVSEAC(double acceleration) {
    return Build("SVSEAC", {acceleration});
}
std::string CommandSerialiser::SVGEAA() {
    return Build("SVGEAA");
}
std::string CommandSerialiser::SVSEAA(double azimuth, double elevation, double speed) {
    return Build("SVSEAA", {azimuth, elevation, speed});
}
std::string CommandSerialiser::SVTRAA(double azimuth, double elevation, double speed) {
    return Build("SVTRAA", {azimuth, elevation, speed});
}
std::string CommandSerialiser::SVSFFS(double speed, double lines) {
    return Build("SVSFFS", {speed, lines});
}
std::string CommandSerialiser::SVSBES(double speed, double elevationMin, double elevationMax,
                                      double lines) {
    return Build("SVSBES", {speed, elevationMin, elevationMax, lines});
}
std::string CommandSerialiser::SVSRES(double speed, double azimuthMin, double azimuthMax,
                                      double elevationMin, double elevationMax, double lines) {
    return Build("SVSRES", {azimuthMin, azimuthMax, elevationMin, elevationMax, speed, lines});
}
std::string CommandSerialiser::SVRRBE(std::vector<Parameter> parameters) {
    return Build("SVRRBE", {parameters});
}
std::string CommandSerialiser::SVSRBE() {
    return Build("SVSRBE");
}
std::string CommandSerialiser::SVRNLS(unsigned short a, unsigned short b, bool flag,
                                      unsigned short d) {
    return Build("SVRNLS", {unsigned{a}, unsigned{b}, Flag(flag), unsigned{d}});
}
std::string CommandSerialiser::SVSTLS() {
    return Build("SVSTLS");
}
std::string CommandSerialiser::SVSRUN() {
    return Build("SVSRUN");
}
std::string CommandSerialiser::SVSSTP() {
    return Build("SVSSTP");
}
std::string CommandSerialiser::SVSSTG(double t1, double t2, double t3) {
    return Build("SVSSTG", {t1, t2, t3});
}
std::string CommandSerialiser::SVSGTG() {
    return Build("SVSGTG");
}
std::string CommandSerialiser::SVSGRL() {
    return Build("SVSGRL");
}
std::string CommandSerialiser::SVSSSP(double speed) {
    return Build("SVSSSP", {speed});
}
std::string CommandSerialiser::SVMONN() {
    return Build("SVMONN");
}
std::string CommandSerialiser::SVMOFF() {
    return Build("SVMOFF");
}
std::string CommandSerialiser::SVSLGA(unsigned short gain) {
    return Build("SVSLGA", {unsigned{gain}});
}
std::string CommandSerialiser::SVSGER() {
    return Build("SVSGER");
}
std::string CommandSerialiser::SVSTST() {
    return Build("SVSTST");
}
std::string CommandSerialiser::SVGUFP(unsigned short page) {
    return Build("SVGUFP", {unsigned{page}});
}
std::string CommandSerialiser::SVSUFP(unsigned short page, std::string data) {
    const std::size_t pageSize = FindCommand("SVSUFP")->arguments[1].minimumSize;
    if (data.size() < pageSize)
        data.append(pageSize - data.size(), '0');
    return Build("SVSUFP", {unsigned{page}, data});
}
std::string CommandSerialiser::SVEUFP(unsigned short page) {
    return Build("SVEUFP", {unsigned{page}});
}
std::string CommandSerialiser::SVERST() {
    return Build("SVERST");
}
std::string CommandSerialiser::SVPPPP() {
    return Build("SVPPPP");
}
std::string CommandSerialiser::SVEENB(unsigned int a, unsigned int b, bool flag) {
    return Build("SVEENB", {b, a, Flag(flag)});
}
std::string CommandSerialiser::SVEDIS(unsigned int a, unsigned int b) {
    return Build("SVEDIS", {b, a});
}
std::string CommandSerialiser::SVESTS(unsigned int a, unsigned int b) {
    return Build("SVESTS", {b, a});
}
std::string CommandSerialiser::SVESTM() {
    return Build("SVESTM");
}
std::string CommandSerialiser::SVERTM(unsigned int frequency) {
    return Build("SVERTM", {frequency});
}
std::string CommandSerialiser::SVEGTM() {
    return Build("SVEGTM");
}
std::string CommandSerialiser::SVECCF(unsigned int n, std::string command) {
    return Build("SVECCF", {n, command});
}
std::string CommandSerialiser::SVIIOS(unsigned int n) {
    return Build("SVIIOS", {n});
}
std::string CommandSerialiser::SVIIOT(unsigned int n) {
    return Build("SVIIOT", {n});
}
std::string CommandSerialiser::SVIIOG() {
    return Build("SVIIOG");
}
std::string CommandSerialiser::SVIOSE(unsigned char a, unsigned char b) {
    return Build("SVIOSE", {unsigned{a}, unsigned{b}});
}
std::string CommandSerialiser::SVIOGE() {
    return Build("SVIOGE");
}
std::string CommandSerialiser::SVGCAA() {
    return Build("SVGCAA");
}
std::string CommandSerialiser::SVGMTN() {
    return Build("SVGMTN");
}
std::string CommandSerialiser::SVSEAT(double azimuth, double elevation, double speed,
                                      unsigned int p, unsigned int q) {
    return Build("SVSEAT", {azimuth, elevation, speed, p, q});
}
std::string CommandSerialiser::SVTTRG(unsigned int p, unsigned int q) {
    return Build("SVTTRG", {p, q});
}
std::string CommandSerialiser::SVSIPC(std::string settings, std::string address) {
    return Build("SVSIPC", {settings, ParseDottedIPv4(address).to_uint()});
}

} // namespace tavrel
