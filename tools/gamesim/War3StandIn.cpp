// velt-war3-standin: stands in for war3.exe where the launcher is tried for real. Copied into a
// Warcraft III folder as war3.exe, it writes the arguments it was started with, one per line, to
// "war3-args.txt" in its working directory (the client's, which the launcher does not change),
// and ends.

#include <fstream>

int main(int argc, char** argv)
{
    std::ofstream out("war3-args.txt", std::ios::binary | std::ios::trunc);
    for (int i = 0; i < argc; ++i)
        out << argv[i] << '\n';
    return out.good() ? 0 : 1;
}
