// Finding out what is on a serial line: which mode and which speed, said in
// one sentence. Listening sends nothing; the one question asked is the
// product request, which every receiver of the binary protocol answers or
// ignores.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "receiver/connection.h"
#include "receiver/heard.h"

namespace halvex {

struct Detection {
    std::string port;
    std::string mode = "silent"; // binary, nmea, text, noise or silent
    int baud = 0;
    std::optional<Product> product;
    std::vector<std::string> sentences;
    std::vector<int> noisy; // the speeds that carried bytes, when nothing made sense of them
    bool everySpeed = false; // and they were all that were listened at
    int seconds = 0; // how long detection took
    bool Recognised() const { return mode == "binary" || mode == "nmea" || mode == "text"; }
    std::string Sentence() const;
    std::string Json() const;
};

struct DetectOptions {
    // Listening only: ask for the product data where nothing but silence or
    // frames was heard, and only at 9600.
    bool careful = false;
    // The speeds to listen at first (the command's own, say); empty: all.
    std::vector<int> speeds;
    double secondsEach = 0; // 0: 2 s at 4800 and 9600, 1 s elsewhere
    bool askProduct = true;
};

// Listens at each speed, then asks for the product data; within 15 s.
Detection Detect(const std::string &port, const DetectOptions &options = {});

} // namespace halvex
