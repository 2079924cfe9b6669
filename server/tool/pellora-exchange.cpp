#include "ExchangeAdmin.h"

#include <iostream>

int main(int argc, char** argv) {
    return pellora::RunExchangeAdmin(std::vector<std::string>(argv + 1, argv + argc), std::cout,
                                     std::cerr);
}
