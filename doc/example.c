/* example.c: reads the disc in a drive with libqscan and prints each
 * track's ISRC and the disc's MusicBrainz ID.
 *   cc example.c $(pkg-config --cflags --libs qscan) -o example
 *   ./example /dev/sr0      (on Windows: example D:) */
#include <stdio.h>

#include <qscan.h>

int main(int argc, char** argv) {
    const char* drive = argc > 1 ? argv[1] : "D:";
    qscan_disc* disc;
    qscan_error error;
    if (qscan_api_version() < QSCAN_API_VERSION) {
        fprintf(stderr, "libqscan %s is older than this program\n", qscan_version());
        return 1;
    }
    if (qscan_read_drive(drive, 0, NULL, NULL, NULL, &disc, &error) != QSCAN_OK) {
        fprintf(stderr, "%s\n%s\n", error.message, error.detail);
        return 1;
    }
    qscan_summary summary;
    qscan_disc_summary(disc, &summary);
    for (int n = summary.first_track; n >= 1 && n <= summary.last_track; ++n) {
        qscan_track track;
        qscan_code isrc;
        if (qscan_disc_track(disc, n, &track) != QSCAN_OK)
            continue; /* a track number the disc skips */
        if (track.has_isrc && qscan_track_code(disc, n, 0, &isrc) == QSCAN_OK)
            printf("track %2d  %s%s\n", n, isrc.code, isrc.well_formed ? "" : "  (not a well-formed ISRC)");
        else
            printf("track %2d  %s\n", n, track.data ? "data" : "no ISRC");
    }
    qscan_ids ids;
    if (qscan_disc_ids(disc, &ids, &error) == QSCAN_OK)
        printf("MusicBrainz: %s\n", ids.musicbrainz);
    else
        printf("no MusicBrainz ID: %s\n", error.message);
    qscan_disc_free(disc);
    return 0;
}
