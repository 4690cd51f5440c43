// The line's view in a real headless Chromium: quenta-flash serve runs off loopback with a token
// over an SQLite journal that holds a shift of history, and the flasher adds jobs to it against
// simulated boards while the page is open. The page must ask for the token, show a station named
// like a script and a recipe named with markup as text, narrow itself to the recipe chosen, and
// show a job in its tiles, chart and table within 3 s of its row being started or completed. It
// leaves screenshots of the page at 1366x768 and on a phone.
#include "BoardImage.h"
#include "Chromium.h"
#include "Flasher.h"
#include "JournalKinds.h"
#include "ServeProcess.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSslCertificate>
#include <QSslKey>
#include <QTemporaryDir>
#include <QTest>

using namespace quenta;
using namespace quenta::testing;

namespace {

const QString kToken = QStringLiteral("line 2 token");
const QString kScript = QStringLiteral("<script>alert(1)</script>");
const QString kRecipe = QStringLiteral("Controller <b>2.3</b>");
// The page promises 3 s from a row's change to the screen; 2 s more are given to a loaded machine.
constexpr int kShownWithinMs = 3000 + 2000;

// The page as the test reads it: the tiles (name|recipe or firmware|jobs line|running), the
// table's first row and recipes, the recipes offered, and its figures: the headline's board
// count|the chart's ok total|the table's cells that show the script-named station|scripts in the
// body|alerts (the last two: whether anything ran as a script).
const QString kReadPage = QStringLiteral(R"(({
    tiles: Array.from(document.querySelectorAll('#stations .tile')).map(t =>
        t.querySelector('h3').textContent + '|' + t.querySelector('.product').textContent + '|' +
        t.querySelector('.jobs').textContent + (t.querySelector('.running') ? '|running' : '')),
    firstId: Number((document.querySelector('#jobs tbody tr') || {dataset: {}}).dataset.id || -1),
    firstResult: (document.querySelector('#jobs tbody tr td:nth-child(8)') || {}).textContent || '',
    jobRecipes: Array.from(document.querySelectorAll('#jobs td .recipe')).map(s => s.textContent),
    recipeChoices: Array.from(document.getElementById('recipe').options).map(o => o.value),
    figures: [document.getElementById('h-boards').textContent,
        Number(document.getElementById('hours').dataset.ok || -1),
        Array.from(document.querySelectorAll('#jobs td'))
            .filter(td => td.textContent === '<script>alert(1)</script>').length,
        document.querySelectorAll('body script').length, window.alerts.length].join('|')
}))");

// A shift of history: four stations, a job every 10 minutes each for 8 hours; line-2 refuses
// one board in seven, line-3 loses one in nine, line-4 failed its last three, line-1 went idle
// 25 minutes ago.
QString fillHistory(const QString &url) {
    const QDateTime now = QDateTime::currentDateTimeUtc();
    std::uint64_t serial = 4000;
    std::vector<std::pair<JobStart, JobEnd>> jobs;
    // Each job's result and message; its columns below in the order of JobStart and JobEnd.
    const char *const ends[][2] = {{"ok", "downloaded and verified"},
                                   {"refused", "line 57: the board answered ERROR"},
                                   {"no-answer", "no answer to line 1 after 2 retries"},
                                   {"port-lost", "the port went away at line 300"}};
    for (int minutes = 475; minutes >= 5; minutes -= 10) {
        for (int line = 1; line <= 4; ++line) {
            if (line == 1 && minutes < 25) {
                continue;
            }
            const int slot = minutes / 10;
            const auto *end = ends[line == 2 && slot % 7 == 0   ? 1
                                   : line == 3 && slot % 9 == 0 ? 2
                                   : line == 4 && minutes < 35  ? 3
                                                                : 0];
            // clang-format off
            jobs.push_back({{now.addSecs(-60LL * minutes - 7 * line),
                             QStringLiteral("line-%1").arg(line), {}, {}, "flash", {}, {}, {}, {},
                             {}, "release/controller-2.3.hex", QString(64, u'c'), {}, {}, ++serial,
                             {}, {}},
                            {11.0 + (minutes + line) % 4, {}, end[0], 0, 0, 0, 0, 0, end[1], {},
                             {}, {}}});
            // clang-format on
        }
    }
    return writeJobs(url, jobs);
}

} // namespace

class ServePage : public QObject {
    Q_OBJECT

    QTemporaryDir files_;
    QString journal_;
    QString token_; // the token's file
    Chromium browser_;
    const QByteArray bearer_ = "Authorization: Bearer " + kToken.toUtf8();

    QJsonObject readPage(const QString &page) {
        return browser_.evaluate(page, kReadPage).toObject();
    }

    static QStringList texts(const QJsonValue &array) { return array.toVariant().toStringList(); }

    QStringList tiles(const QString &page) { return texts(readPage(page)["tiles"]); }

    // Off loopback the page asks for the token, and the API answers its script nothing without
    // it: types the token into the login form, sends it, and waits for the view.
    static void signIn(Chromium &browser, const QString &page) {
        QTRY_VERIFY_WITH_TIMEOUT(browser
                                     .evaluate(page, "!document.getElementById('login').hidden && "
                                                     "document.getElementById('view').hidden")
                                     .toBool(),
                                 kShownWithinMs);
        QCOMPARE(browser.evaluate(page, "fetch('/api/summary').then(r => r.status)").toInt(), 401);
        browser.evaluate(page, "document.getElementById('token').value = '" + kToken +
                                   "'; document.getElementById('login').requestSubmit(); true");
        QTRY_VERIFY_WITH_TIMEOUT(
            browser.evaluate(page, "!document.getElementById('view').hidden").toBool(),
            kShownWithinMs);
    }

    // Saves a screenshot where QUENTA_SCREENSHOTS says, else in the test's working folder.
    void save(const QString &page, const QString &name) {
        const QString folder = qEnvironmentVariableIsSet("QUENTA_SCREENSHOTS")
                                   ? qEnvironmentVariable("QUENTA_SCREENSHOTS")
                                   : QDir::currentPath();
        QFile file(folder + u'/' + name);
        const QByteArray png = browser_.screenshot(page);
        QVERIFY2(png.startsWith("\x89PNG"), qPrintable(browser_.problem()));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(png) == png.size());
        qInfo("screenshot: %s", qPrintable(QFileInfo(file).absoluteFilePath()));
    }

private slots:
    void initTestCase() {
        QVERIFY(files_.isValid());
        qunsetenv("QUENTA_JOURNAL");
        journal_ = "sqlite:" + files_.filePath("line.sqlite");
        QCOMPARE(fillHistory(journal_), QString());
        QFile firmware(kSpanHex);
        QVERIFY(firmware.open(QIODevice::ReadOnly));
        const QString recipe = writeRecipe(
            files_.filePath("controller.toml"), kRecipe, kSpanHex,
            QCryptographicHash::hash(firmware.readAll(), QCryptographicHash::Sha256).toHex(),
            "\n[journal]\nurl = \"" + journal_ + "\"\n");
        QVERIFY(!recipe.isEmpty());
        LinkedBoard board;
        const FlasherRun run = runFlasher(
            {"--recipe", recipe, "--station", kScript, "-q", "-p", board.port(), "flash"});
        QVERIFY2(run.exit == 0, run.err.constData());
        QFile token(files_.filePath("token"));
        QVERIFY(token.open(QIODevice::WriteOnly) && token.write(kToken.toUtf8() + '\n') > 0);
        token_ = token.fileName();
    }

    void livePage() {
        QUENTA_REQUIRE_CHROMIUM(browser_);
        QUENTA_SERVE(serve, {"-J", journal_, "--token-file", token_}, "0.0.0.0");
        const QString url = QStringLiteral("http://127.0.0.1:%1/").arg(serve.port());
        const QString page = browser_.newPage(
            1366, 768, false,
            "window.alerts = []; window.alert = (m) => window.alerts.push(String(m));");
        QVERIFY2(!page.isEmpty(), qPrintable(browser_.problem()));
        browser_.call("Page.navigate", {{"url", url}}, page);
        signIn(browser_, page);
        QTRY_COMPARE_WITH_TIMEOUT(tiles(page).size(), 5, kShownWithinMs);

        // The station named like a script shows as those characters, in its tile and the table;
        // its tile names the recipe it followed, the others their firmware.
        const QJsonObject before = readPage(page);
        QCOMPARE(texts(before["tiles"]),
                 (QStringList{kScript + "|" + kRecipe + "|1 job, yield 100.0 %",
                              "line-1|controller-2.3.hex|46 jobs, yield 100.0 %",
                              "line-2|controller-2.3.hex|48 jobs, yield 85.4 %",
                              "line-3|controller-2.3.hex|48 jobs, yield 87.5 %",
                              "line-4|controller-2.3.hex|48 jobs, yield 93.8 %"}));
        QCOMPARE(texts(before["jobRecipes"]), QStringList{kRecipe});
        QCOMPARE(texts(before["recipeChoices"]), (QStringList{"", kRecipe}));
        QCOMPARE(before["figures"].toString(), "191|175|1|0|0");

        // A board flashed at 9600 baud at a new station: running, then done.
        LinkedBoard slow(pacedAt(9600));
        QProcess flasher;
        startFlasher(flasher, {"-J", journal_, "--station", "line-5", "-q", "-p", slow.port(),
                               "flash", kSpanHex});
        qint64 id = 0;
        QTRY_VERIFY_WITH_TIMEOUT(
            (id = QJsonDocument::fromJson(
                      get(serve.port(), "/api/jobs?station=line-5&result=running", {bearer_}).body)
                      .array()
                      .at(0)["id"]
                      .toInteger()) > 0,
            kFlasherGuardMs);
        QTRY_VERIFY_WITH_TIMEOUT(
            readPage(page)["firstId"].toInteger() == id &&
                readPage(page)["firstResult"].toString() == "running" &&
                tiles(page).contains("line-5|span.hex|0 jobs, yield –|running"),
            kShownWithinMs);
        QCOMPARE(finished(flasher).exit, 0);
        QTRY_VERIFY_WITH_TIMEOUT(readPage(page)["firstResult"].toString() == "ok", kShownWithinMs);
        const QJsonObject after = readPage(page);
        QCOMPARE(after["firstId"].toInteger(), id);
        QVERIFY(tiles(page).contains("line-5|span.hex|1 job, yield 100.0 %"));
        QCOMPARE(after["figures"].toString(), "192|176|1|0|0");
        save(page, "line-view.png");

        // The recipe chosen: the view shows its one station and job, without naming the recipe
        // in every row.
        browser_.evaluate(page, "(r => { r.value = r.options[1].value; r.dispatchEvent(new "
                                "Event('change', {bubbles: true})); return true; })"
                                "(document.getElementById('recipe'))");
        QTRY_COMPARE_WITH_TIMEOUT(tiles(page),
                                  QStringList{kScript + "|" + kRecipe + "|1 job, yield 100.0 %"},
                                  kShownWithinMs);
        QTRY_COMPARE_WITH_TIMEOUT(readPage(page)["figures"].toString(), "1|1|1|0|0",
                                  kShownWithinMs);
        QCOMPARE(texts(readPage(page)["jobRecipes"]), QStringList{});

        // On a phone, signed in already by the cookie.
        const QString phone = browser_.newPage(390, 844, true, "window.alerts = [];");
        browser_.call("Page.navigate", {{"url", url}}, phone);
        QTRY_VERIFY_WITH_TIMEOUT(readPage(phone)["firstId"].toInteger() == id, kShownWithinMs);
        QCOMPARE(browser_.evaluate(phone, "document.documentElement.scrollWidth").toInt(), 390);
        save(phone, "line-view-phone.png");
    }

    // Off loopback over HTTPS, with a certificate the test makes and a browser that trusts its key
    // alone: the page signs in with a cookie kept for HTTPS only and shows the journal, and plain
    // HTTP to the same port is answered with nothing.
    void httpsPage() {
        QUENTA_REQUIRE_CHROMIUM(browser_);
        const QString cert = files_.filePath("cert.pem");
        const QString key = files_.filePath("key.pem");
        QProcess openssl;
        openssl.start("openssl",
                      {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                       "-nodes", "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
                       "subjectAltName=IP:127.0.0.1", "-keyout", key, "-out", cert});
        QVERIFY(openssl.waitForFinished(kFlasherGuardMs) && openssl.exitCode() == 0);
        QFile pem(cert);
        QVERIFY(pem.open(QIODevice::ReadOnly));
        const QByteArray spki =
            QCryptographicHash::hash(QSslCertificate(pem.readAll()).publicKey().toDer(),
                                     QCryptographicHash::Sha256)
                .toBase64();
        QUENTA_SERVE(serve,
                     {"-J", journal_, "--token-file", token_, "--tls-cert", cert, "--tls-key", key},
                     "0.0.0.0");
        QVERIFY2(serve.why().contains(QStringLiteral("https://0.0.0.0:%1/").arg(serve.port())),
                 qPrintable(serve.why()));
        QCOMPARE(get(serve.port(), "/api/summary", {bearer_}).status, 0);

        Chromium browser({"--ignore-certificate-errors-spki-list=" + QString::fromLatin1(spki)});
        QVERIFY2(browser.running(), qPrintable(browser.problem()));
        const QString page = browser.newPage(1366, 768, false, "window.alerts = [];");
        QVERIFY2(!page.isEmpty(), qPrintable(browser.problem()));
        browser.call("Page.navigate",
                     {{"url", QStringLiteral("https://127.0.0.1:%1/").arg(serve.port())}}, page);
        signIn(browser, page);
        QTRY_VERIFY_WITH_TIMEOUT(
            browser.evaluate(page, "document.querySelectorAll('#stations .tile').length").toInt() >
                0,
            kShownWithinMs);
        QCOMPARE(browser.evaluate(page, "location.protocol").toString(), "https:");
        QCOMPARE(lines(browser.call("Network.getCookies", {}, page)["cookies"].toArray(),
                       {"name", "secure"}),
                 QStringList{"quenta_token|true"});
    }
};

QTEST_GUILESS_MAIN(ServePage)
#include "tst_page.moc"
