#include "ExchangeCgi.h"

int main() {
    return pellora::RunCgi(pellora::HandleRetrieve);
}
