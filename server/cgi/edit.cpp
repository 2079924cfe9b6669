#include "ExchangeCgi.h"

int main() {
    return pellora::RunExchangeProgram(pellora::HandleEdit);
}
