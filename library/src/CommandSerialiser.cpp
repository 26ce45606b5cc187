#include "Sentova/CommandSerialiser.h"

#include "AddressText.h"

#include "Sentova/Encoding.h"

namespace tavrel {

namespace {

std::string U8(unsigned int v) {
    return PackArg8(static_cast<signed char>(v & 0xFFu));
}
std::string U16(unsigned int v) {
    return PackArg16(static_cast<short>(v & 0xFFFFu));
}
std::string U32(unsigned int v) {
    return PackArg32(static_cast<int>(v));
}

std::string ThreeAngles(const char* code, double a, double b, double c) {
    return std::string(code) + PackAngle(a) + PackAngle(b) + PackAngle(c);
}

} // namespace

std::string CommandSerialiser::SVCQRE() {
    return "SVCQRE";
}
std::string CommandSerialiser::SVHOME() {
    return "SVHOME";
}
std::string CommandSerialiser::SVSTOP() {
    return "SVSTOP";
}
std::string CommandSerialiser::SVSEAC(double acceleration) {
    return "SVSEAC" + PackAcceleration(acceleration);
}
std::string CommandSerialiser::SVGEAA() {
    return "SVGEAA";
}
std::string CommandSerialiser::SVSEAA(double azimuth, double elevation, double speed) {
    return "SVSEAA" + PackAngle(azimuth) + PackAngle(elevation) + PackSpeed(speed);
}
std::string CommandSerialiser::SVTRAA(double azimuth, double elevation, double speed) {
    return "SVTRAA" + PackAngle(azimuth) + PackAngle(elevation) + PackSpeed(speed);
}
std::string CommandSerialiser::SVSFFS(double speed, double lines) {
    return "SVSFFS" + PackSpeed(speed) + PackNLines(lines);
}
std::string CommandSerialiser::SVSBES(double speed, double elevationMin, double elevationMax,
                                      double lines) {
    return "SVSBES" + PackSpeed(speed) + PackAngle(elevationMin) + PackAngle(elevationMax) +
           PackNLines(lines);
}
std::string CommandSerialiser::SVSRES(double speed, double azimuthMin, double azimuthMax,
                                      double elevationMin, double elevationMax, double lines) {
    return "SVSRES" + PackAngle(azimuthMin) + PackAngle(azimuthMax) + PackAngle(elevationMin) +
           PackAngle(elevationMax) + PackSpeed(speed) + PackNLines(lines);
}
std::string CommandSerialiser::SVRRBE(std::vector<Parameter> parameters) {
    std::string out = "SVRRBE";
    out.reserve(6 + 5 * parameters.size());
    for (const Parameter& p : parameters)
        out += PackArg8(p.id) + PackArg32(p.value);
    return out;
}
std::string CommandSerialiser::SVSRBE() {
    return "SVSRBE";
}
std::string CommandSerialiser::SVRNLS(unsigned short a, unsigned short b, bool flag,
                                      unsigned short d) {
    return "SVRNLS" + U16(a) + U16(b) + U8(flag ? 1 : 0) + std::string(1, '\0') + U16(d);
}
std::string CommandSerialiser::SVSTLS() {
    return "SVSTLS";
}
std::string CommandSerialiser::SVSRUN() {
    return "SVSRUN";
}
std::string CommandSerialiser::SVSSTP() {
    return "SVSSTP";
}
std::string CommandSerialiser::SVSSTG(double t1, double t2, double t3) {
    return ThreeAngles("SVSSTG", t1, t2, t3);
}
std::string CommandSerialiser::SVSGTG() {
    return "SVSGTG";
}
std::string CommandSerialiser::SVSGRL() {
    return "SVSGRL";
}
std::string CommandSerialiser::SVSSSP(double speed) {
    return "SVSSSP" + PackSpeed(speed);
}
std::string CommandSerialiser::SVMONN() {
    return "SVMONN";
}
std::string CommandSerialiser::SVMOFF() {
    return "SVMOFF";
}
std::string CommandSerialiser::SVSLGA(unsigned short gain) {
    return "SVSLGA" + U8(gain);
}
std::string CommandSerialiser::SVSGER() {
    return "SVSGER";
}
std::string CommandSerialiser::SVSTST() {
    return "SVSTST";
}
std::string CommandSerialiser::SVGUFP(unsigned short page) {
    return "SVGUFP" + U8(page);
}
std::string CommandSerialiser::SVSUFP(unsigned short page, std::string data) {
    if (data.size() < 64)
        data.append(64 - data.size(), '0');
    return "SVSUFP" + U8(page) + data;
}
std::string CommandSerialiser::SVEUFP(unsigned short page) {
    return "SVEUFP" + U8(page);
}
std::string CommandSerialiser::SVERST() {
    return "SVERST";
}
std::string CommandSerialiser::SVPPPP() {
    return "SVPPPP";
}
std::string CommandSerialiser::SVEENB(unsigned int a, unsigned int b, bool flag) {
    return "SVEENB" + U8(b) + U8(a) + U8(flag ? 1 : 0);
}
std::string CommandSerialiser::SVEDIS(unsigned int a, unsigned int b) {
    return "SVEDIS" + U8(b) + U8(a);
}
std::string CommandSerialiser::SVESTS(unsigned int a, unsigned int b) {
    return "SVESTS" + U8(b) + U8(a);
}
std::string CommandSerialiser::SVESTM() {
    return "SVESTM";
}
std::string CommandSerialiser::SVERTM(unsigned int frequency) {
    return "SVERTM" + U16(frequency);
}
std::string CommandSerialiser::SVEGTM() {
    return "SVEGTM";
}
std::string CommandSerialiser::SVECCF(unsigned int n, std::string command) {
    return "SVECCF" + U8(n) + command;
}
std::string CommandSerialiser::SVIIOS(unsigned int n) {
    return "SVIIOS" + U8(n);
}
std::string CommandSerialiser::SVIIOT(unsigned int n) {
    return "SVIIOT" + U8(n);
}
std::string CommandSerialiser::SVIIOG() {
    return "SVIIOG";
}
std::string CommandSerialiser::SVIOSE(unsigned char a, unsigned char b) {
    return "SVIOSE" + U8(a) + U8(b);
}
std::string CommandSerialiser::SVIOGE() {
    return "SVIOGE";
}
std::string CommandSerialiser::SVGCAA() {
    return "SVGCAA";
}
std::string CommandSerialiser::SVGMTN() {
    return "SVGMTN";
}
std::string CommandSerialiser::SVSEAT(double azimuth, double elevation, double speed,
                                      unsigned int p, unsigned int q) {
    return "SVSEAT" + PackAngle(azimuth) + PackAngle(elevation) + PackSpeed(speed) + U32(p) +
           U32(q);
}
std::string CommandSerialiser::SVTTRG(unsigned int p, unsigned int q) {
    return "SVTTRG" + U32(p) + U32(q);
}
std::string CommandSerialiser::SVSIPC(std::string settings, std::string address) {
    return "SVSIPC" + settings + U32(ParseDottedIPv4(address).to_uint());
}

} // namespace tavrel
