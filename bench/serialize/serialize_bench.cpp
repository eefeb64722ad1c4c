// serialize_bench - times the binary table image ("LVT0") and the JSON serializer on a
// table of 100,000 entries (a list of records {id, name, score, tags = {..}}), and
// python3's json.dumps/json.loads on the same data as a peer. Prints one line a row:
// the operation, milliseconds (best of five) and megabytes a second of output/input.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "libs/serialize_engine.h"

namespace {

void PushData(lvState *L, int count)
{
    PushNewTable(L);
    for (int i = 0; i < count; i++) {
        PushNumber(L, i);
        PushNewTable(L);
        PushString(L, "id");
        PushNumber(L, i);
        SetTableValue(L, -3);
        PushString(L, "name");
        std::string name = "item number " + std::to_string(i);
        PushString(L, name.c_str());
        SetTableValue(L, -3);
        PushString(L, "score");
        PushNumber(L, i * 0.25);
        SetTableValue(L, -3);
        PushString(L, "tags");
        PushNewTable(L);
        for (int j = 0; j < 3; j++) {
            PushNumber(L, j);
            PushNumber(L, i + j);
            SetTableValue(L, -3);
        }
        SetTableValue(L, -3);
        SetTableValue(L, -3);
    }
}

template <typename Fn>
double BestMs(Fn fn)
{
    double best = 1e30;
    for (int r = 0; r < 5; r++) {
        auto t0 = std::chrono::steady_clock::now();
        fn();
        double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
        if (ms < best) best = ms;
    }
    return best;
}

void Row(const char *what, double ms, size_t bytes)
{
    std::printf("%-28s %9.2f ms %8.1f MB/s\n", what, ms, bytes / 1e6 / (ms / 1e3));
}

}  // namespace

int main()
{
    const int count = 100000;
    lvState *L = NewVMState();
    PushData(L, count);
    std::string image;
    double ms = BestMs([&] {
        PushTableImageString(L, 1);
        image.assign(ValueToString(L, -1), ValueStringLength(L, -1));
        SetStackTop(L, 1);
    });
    Row("LVT0 write", ms, image.size());
    ms = BestMs([&] {
        ReadTableImageMemory(L, image.data(), image.size());
        SetStackTop(L, 1);
    });
    Row("LVT0 read", ms, image.size());

    lvSerializeOptions o;
    InitSerializeOptions(&o);
    std::string json;
    ms = BestMs([&] {
        lvSerialBuffer b{};
        SerializeWithAdapter(L, 1, &o, nullptr, &b);
        json.assign(reinterpret_cast<char *>(b.data), b.length);
        FreeMemory(b.data);
    });
    Row("JSON write (mode 0)", ms, json.size());
    ms = BestMs([&] {
        lvSerialBuffer b{reinterpret_cast<uint8_t *>(json.data()), 0, json.size(), json.size()};
        if (DeserializeWithAdapter(L, &o, nullptr, &b, 0) != 0) std::abort();
        SetStackTop(L, 1);
    });
    Row("JSON read (mode 0)", ms, json.size());
    CloseVMState(L);

    // The peer: the same records through python3's json module (C accelerated).
    std::string script =
        "import json,time\n"
        "d=[{'id':i,'name':'item number %d'%i,'score':i*0.25,'tags':[i,i+1,i+2]} for i in range(" +
        std::to_string(count) +
        ")]\n"
        "def best(f):\n"
        "  b=1e9\n"
        "  for _ in range(5):\n"
        "    t=time.perf_counter();r=f();b=min(b,time.perf_counter()-t)\n"
        "  return b*1e3,r\n"
        "ms,s=best(lambda: json.dumps(d,indent='\\t'))\n"
        "print('%-28s %9.2f ms %8.1f MB/s'%('python3 json.dumps',ms,len(s)/1e6/(ms/1e3)))\n"
        "ms,_=best(lambda: json.loads(s))\n"
        "print('%-28s %9.2f ms %8.1f MB/s'%('python3 json.loads',ms,len(s)/1e6/(ms/1e3)))\n";
    std::fflush(stdout);
    FILE *p = popen("python3 -", "w");
    if (p) {
        std::fwrite(script.data(), 1, script.size(), p);
        pclose(p);
    }
    return 0;
}
