// The whole Einstein side of a run on the virtual Einstein: the loader
// takes the assembled program from a test PC over the line, the program
// formats the disk and writes the built-in image, then restarts the
// machine; the disk holds the image sector for sector, and saved as a DSK
// image it reads back the same through TOBRIN's own reader.
#include <gtest/gtest.h>

#include <cstdio>

#include "image/default_image.h"
#include "image/disc_image.h"
#include "target/monitor_loader.h"
#include "target/program_stages.h"
#include "tests/support/expected_console.h"
#include "tests/support/sim_rig.h"
#include "tests/support/stdout_capture.h"

namespace {

Bytes default_sector(int n)
{
    const unsigned char* data = default_image + 256 + (n / 10) * 5376 + 256 + (n % 10) * 512;
    return Bytes(data, data + 512);
}

TEST(TargetWholeRun, LoaderProgramFormatAndTheBuiltInImage)
{
    SimRig rig;
    Einstein& e = rig.e();
    einstein_load(&e, 0x1000, monitor_loader_image, monitor_loader_length);
    einstein_start(&e, 0x1000, 0xFCFF);
    int at_reset = einstein_watch(&e, 0x0000);

    Bytes program(target_program_image, target_program_image + target_program_size);
    program.resize(2048, 0);
    rig.send(program);
    ASSERT_EQ(rig.run_until_starved(), StopReason::Starved);  // the program waits for "*"
    rig.send_byte('*');
    ASSERT_EQ(rig.receive(2), (Bytes{0, 0}));
    ASSERT_EQ(rig.receive_byte(), 0x00);  // one side, 40 tracks
    rig.send({40, 10, 80});
    for (int batch = 0; batch < 5; ++batch) {
        rig.send_byte(0x00);
        for (int k = 0; k < 80; ++k) rig.send_block(default_sector(batch * 80 + k));
        ASSERT_EQ(rig.receive_block(80), Bytes(80, 0)) << "batch " << batch;
    }
    rig.send_byte(0x02);
    EXPECT_EQ(rig.run_to_halt(), StopReason::Monitor);  // jumped to 0000h: the monitor again
    EXPECT_NE(einstein_watch_time(&e, at_reset), UINT64_MAX);

    for (int n = 0; n < 400; ++n) {
        DiskSector* s = disk_find_sector(&e.disk, n / 10, 0, n % 10);
        ASSERT_NE(s, nullptr);
        ASSERT_EQ(s->data, default_sector(n)) << n;
    }
    std::vector<std::string> lines = rig.screen_lines();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0], EINSTEIN_BANNER);
    EXPECT_EQ(lines[1], "] Formatting");
    EXPECT_EQ(lines[2], "] Writing disk image");
    EXPECT_EQ(lines[3], "[ Transfer successful reboot Einstein.");
    EXPECT_EQ(e.protected_writes, 0u);
    EXPECT_EQ(e.fdc.figures.lost_data, 0u);
    EXPECT_EQ(e.usart.overruns, 0u);

    // Saved as an extended DSK image, the disk reads back as the image.
    char path[] = "/tmp/tobrin-saved-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    ASSERT_TRUE(disk_save_dsk(&e.disk, path));
    StdoutCapture capture;
    DiscImage* saved = image_open_file(path);
    ASSERT_NE(saved, nullptr);
    for (int t = 0; t < 40; ++t) {
        image_load_track(saved);
        for (int k = 0; k < 10; ++k) {
            const std::uint8_t* s = image_find_sector(saved, t, k);
            ASSERT_EQ(Bytes(s, s + 512), default_sector(t * 10 + k)) << t << " " << k;
        }
    }
    EXPECT_EQ(capture.finish(), " + Disc image 40 track, single sided (extended .DSK format)\n");
    image_close(saved);
    std::remove(path);

    // And the written disk boots into the program, which waits for the PC
    // as after the typed loader.
    std::size_t before = e.screen.transcript.size();
    ASSERT_TRUE(einstein_boot(&e));
    EXPECT_EQ(einstein_run(&e, 10 * CPU_HZ), StopReason::Starved);
    EXPECT_EQ(e.screen.transcript.substr(before), EINSTEIN_BANNER + "\r\n[ Waiting to proceed\r");
    EXPECT_EQ(e.protected_writes, 0u);
}

TEST(TargetWholeRun, AFormatCommandRightBehindTheProgramIsKept)
{
    // A "*" typed ahead at the format warning that follows the program's
    // last byte at once (it starts while the loader still has RTS on) lands
    // in the USART while the program prints its banner: it must still start
    // the format.
    SimRig rig;
    Einstein& e = rig.e();
    einstein_load(&e, 0x1000, monitor_loader_image, monitor_loader_length);
    einstein_start(&e, 0x1000, 0xFCFF);
    Bytes program(target_program_image, target_program_image + target_program_size);
    program.resize(2048, 0);
    program.push_back('*');
    rig.send(program);
    EXPECT_EQ(rig.receive(2), (Bytes{0, 0}));
    // A byte that arrives after the start, right behind others, is no command.
    rig.receive_byte();  // the drive flags
    einstein_run(&e, 10 * CPU_HZ, false);  // the Einstein times out waiting for the geometry
    EXPECT_EQ(rig.receive_byte(), target_program_image_labels::TIMEOUT_NOTICE);
    rig.send({0x00, '*'});
    EXPECT_EQ(rig.run_until_starved(), StopReason::Starved);
    EXPECT_EQ(e.restores, 2) << "no second format";
}

TEST(TargetWholeRun, ADiskWithoutSectorZeroDoesNotBoot)
{
    // The monitor checks nothing in the header (no signature, no
    // checksum): only a sector 0 it cannot read stops the boot.
    SimRig rig;
    rig.preformat();
    rig.e().disk.track[0][0].sectors.clear();
    EXPECT_FALSE(einstein_boot(&rig.e()));
    EXPECT_NE(rig.screen_transcript().find("DISK ERROR"), std::string::npos);
}

}  // namespace
