// The README's Slurm array job on a one-node cluster that the test starts
// from Debian's packages (slurmctld, slurmd, slurm-client, munge): its
// shards' outputs must be the bytes of one run on one machine, and their
// merged report that run's report, times aside.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/app/E2e.h"

using namespace e2e;

namespace {

// A TCP port no one listens on now.
int freePort()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    const bool bound = bind(fd, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
                       getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0;
    close(fd);
    return bound ? ntohs(address.sin_port) : 0;
}

// munged, slurmctld and slurmd as root without systemd, each in the
// foreground in the background of a shell, stopped by its own process id.
// No cgroup plugins, so that it runs in a container.
class SlurmCluster {
public:
    explicit SlurmCluster(const Workspace& work) : m_work(work)
    {
        const std::string conf =
            "ClusterName=vellico\nSlurmctldHost=localhost\nSlurmctldPort=" + std::to_string(freePort()) +
            "\nSlurmdPort=" + std::to_string(freePort()) +
            "\nSlurmUser=root\nSlurmdUser=root\nAuthType=auth/munge\nCredType=cred/munge\nAuthInfo=socket=$D/"
            "munge.socket\n"
            "StateSaveLocation=$D/state\nSlurmdSpoolDir=$D/spool\nSlurmctldPidFile=$D/ctld.pid\nSlurmdPidFile=$D/"
            "d.pid\n"
            "SlurmctldLogFile=$D/ctld.log\nSlurmdLogFile=$D/d.log\nProctrackType=proctrack/linuxproc\nTaskPlugin=task/"
            "none\n"
            "JobAcctGatherType=jobacct_gather/none\nAccountingStorageType=accounting_storage/none\n"
            "SchedulerType=sched/builtin\nSelectType=select/"
            "cons_tres\nSelectTypeParameters=CR_Core\nReturnToService=2\n"
            "MpiDefault=none\nNodeName=localhost NodeAddr=127.0.0.1 CPUs=2 State=UNKNOWN\n"
            "PartitionName=main Nodes=localhost Default=YES MaxTime=INFINITE State=UP\n";
        const Result started = m_work.shell(
            "mkdir -p cluster/state cluster/spool && cd cluster && D=$PWD && printf '" + conf +
            "' | sed \"s#\\$D#$D#g\" > slurm.conf && head -c 1024 /dev/urandom > munge.key && chmod 600 munge.key && "
            "{ munged -F --force --key-file=munge.key --socket=$D/munge.socket --pid-file=$D/munged.pidfile "
            "--log-file=$D/munged.log --seed-file=$D/munge.seed </dev/null >munged.out 2>&1 & echo $! > munged.pid; } "
            "&& "
            "for i in $(seq 50); do [ -S munge.socket ] && break; sleep 0.1; done && "
            "{ slurmctld -D -f slurm.conf </dev/null >ctld.out 2>&1 & echo $! > slurmctld.pid; } && "
            "{ slurmd -D -N localhost -f slurm.conf </dev/null >d.out 2>&1 & echo $! > slurmd.pid; } && "
            "for i in $(seq 150); do [ \"$(SLURM_CONF=$D/slurm.conf sinfo -h -o %t 2>/dev/null)\" = idle ] && exit 0; "
            "sleep 0.2; done; tail -n 5 *.out *.log; exit 1");
        if (started.status != 0)
            problem = "the cluster did not start: " + started.output;
    }
    ~SlurmCluster()
    {
        m_work.shell("cd cluster && for p in slurmd slurmctld munged; do [ -f $p.pid ] && kill $(cat $p.pid); done");
    }
    std::string problem; // why the cluster is not there; empty when it is

private:
    const Workspace& m_work;
};

// Under CI the cluster must start; elsewhere the test says why it cannot.
#define NEEDS(condition, why)                                                                                          \
    if (!(condition)) {                                                                                                \
        const char* ci = std::getenv("CI");                                                                            \
        if (ci && std::string(ci) == "true")                                                                           \
            FAIL() << why;                                                                                             \
        GTEST_SKIP() << why;                                                                                           \
    }

TEST(Slurm, ArrayJobShardsGiveTheBytesOfOneRun)
{
    NEEDS(vtest::haveTool("slurmctld") && vtest::haveTool("slurmd") && vtest::haveTool("sbatch") &&
              vtest::haveTool("munged"),
          "Slurm is not installed (apt-get install --no-install-recommends slurmctld slurmd slurm-client munge)");
    NEEDS(geteuid() == 0, "the one-node Slurm cluster runs its daemons as root");
    Workspace work;
    std::filesystem::create_directories(work.file("in/sub"));
    for (int i = 0; i < 10; ++i)
        work.write("in/" + std::string(i % 3 ? "" : "sub/") + "f " + std::to_string(i) + ".pdf", plainDoc(1 + i % 4));
    work.write("logo.jpg", vtest::readFile(work.file("stamp.jpg")));
    const std::string readme = vtest::shellQuote(vtest::sourceDir() + "/README.md");
    const std::string folder = std::filesystem::path(vtest::vellicoBinary()).parent_path().string();
    const std::string path = "PATH=" + vtest::shellQuote(folder) + ":$PATH";
    // One machine: every file, in workers.
    ASSERT_EQ(
        work.shell("find in -name '*.pdf' | sort > list.txt && " + path +
                   " vellico -ilist.txt -fout -jlogo.jpg --jobs 0 --keep-going --report whole.jsonl >/dev/null && "
                   "mv out whole")
            .status,
        0);
    SlurmCluster cluster(work);
    NEEDS(cluster.problem.empty(), cluster.problem);
    // The README's job script, submitted; squeue answers sooner than sbatch --wait.
    const Result job = work.shell(
        "export SLURM_CONF=$PWD/cluster/slurm.conf " + path + " && sed -n '/^<!-- slurm -->$/,/^```$/p' " + readme +
        " | sed '1,2d;$d' > stamp.sh && id=$(sbatch --parsable stamp.sh) && for i in $(seq 600); do "
        "squeue -h -j $id 2>/dev/null | grep -q . || break; sleep 0.2; done && cat stamp-*.log && "
        "eval \"$(grep -m1 '^sort -n -k2,2 ' " +
        readme + ")\"");
    ASSERT_EQ(job.status, 0) << job.output;
    for (const char* shard : {"1/4: 3", "2/4: 3", "3/4: 2", "4/4: 2"})
        EXPECT_NE(job.output.find("Shard " + std::string(shard) + " of the list's 10 files"), std::string::npos)
            << job.output;
    EXPECT_EQ(work.shell("diff -r whole out && echo same").output, "same\n");
    const std::string withoutTimes = " | sed -E 's/\"seconds\": [0-9.]+//'";
    EXPECT_EQ(work.shell("sort -n -k2,2 whole.jsonl" + withoutTimes).output,
              work.shell("cat report.jsonl" + withoutTimes).output);
    EXPECT_EQ(readReport(work.file("report.jsonl")).size(), 10u);
}

} // namespace
