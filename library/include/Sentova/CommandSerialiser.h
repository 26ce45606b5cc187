// The device's command vocabulary. Each static function returns the complete
// command datagram: the six-letter code followed by its arguments in wire order.
#pragma once

#include <string>
#include <vector>

namespace tavrel {

// One laser stream parameter of "SVRRBE": sent as u8 id, then u32 value.
struct Parameter {
    signed char id;
    int value;
};

class CommandSerialiser {
public:
    CommandSerialiser() = delete;

    static std::string SVCQRE();
    static std::string SVHOME();
    static std::string SVSTOP();
    static std::string SVSEAC(double acceleration);
    static std::string SVGEAA();
    static std::string SVSEAA(double azimuth, double elevation, double speed);
    static std::string SVTRAA(double azimuth, double elevation, double speed);
    static std::string SVSFFS(double speed, double lines);
    static std::string SVSBES(double speed, double elevationMin, double elevationMax, double lines);
    // The speed is the first argument but travels after the four angles.
    static std::string SVSRES(double speed, double azimuthMin, double azimuthMax,
                              double elevationMin, double elevationMax, double lines);
    static std::string SVRRBE(std::vector<Parameter> parameters);
    static std::string SVSRBE();
    static std::string SVRNLS(unsigned short a, unsigned short b, bool flag, unsigned short d);
    static std::string SVSTLS();
    static std::string SVSRUN();
    static std::string SVSSTP();
    static std::string SVSSTG(double t1, double t2, double t3);
    static std::string SVSGTG();
    static std::string SVSGRL();
    static std::string SVSSSP(double speed);
    static std::string SVMONN();
    static std::string SVMOFF();
    static std::string SVSLGA(unsigned short gain);
    static std::string SVSGER();
    static std::string SVSTST();
    static std::string SVGUFP(unsigned short page);
    // Data shorter than 64 bytes is padded with '0' (0x30) to 64 bytes.
    static std::string SVSUFP(unsigned short page, std::string data);
    static std::string SVEUFP(unsigned short page);
    static std::string SVERST();
    static std::string SVPPPP();
    // "SVEENB", "SVEDIS" and "SVESTS" send b before a.
    static std::string SVEENB(unsigned int a, unsigned int b, bool flag);
    static std::string SVEDIS(unsigned int a, unsigned int b);
    static std::string SVESTS(unsigned int a, unsigned int b);
    static std::string SVESTM();
    static std::string SVERTM(unsigned int frequency);
    static std::string SVEGTM();
    static std::string SVECCF(unsigned int n, std::string command);
    static std::string SVIIOS(unsigned int n);
    static std::string SVIIOT(unsigned int n);
    static std::string SVIIOG();
    static std::string SVIOSE(unsigned char a, unsigned char b);
    static std::string SVIOGE();
    static std::string SVGCAA();
    static std::string SVGMTN();
    static std::string SVSEAT(double azimuth, double elevation, double speed, unsigned int p,
                              unsigned int q);
    static std::string SVTTRG(unsigned int p, unsigned int q);
    // Throws boost::system::system_error when address is not dotted IPv4.
    static std::string SVSIPC(std::string settings, std::string address);
};

} // namespace tavrel
