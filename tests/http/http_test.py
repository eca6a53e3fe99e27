#!/usr/bin/env python3
"""The plugin through a real CGI server: the Kiv stand-in on lighttpd, over loopback HTTP."""
import json
import sys
import unittest
import urllib.parse

from stand_in import StandIn, get

BINARY = None
# The 44-byte refusal and its line feed.
UNAUTHORIZED_BODY = b'{"ok":false,"error":"invalid node password"}\n'


def assert_plugin_headers(test, headers, media_type):
    test.assertEqual(headers["Content-Type"], media_type + "; charset=utf-8")
    test.assertEqual(headers["Cache-Control"], "no-store")
    test.assertEqual(headers["X-Content-Type-Options"], "nosniff")


class Routes(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = StandIn(BINARY)
        cls.url = cls.server.__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.server.__exit__(None, None, None)

    def test_page_on_both_routes(self):
        for path, back_link in (("/plugin_ravlen", True), ("/plugins?plugin=42&embed=1&node=web1&id=7", False)):
            with self.subTest(path=path):
                status, headers, body = get(self.url + path)
                self.assertEqual(status, 200)
                assert_plugin_headers(self, headers, "text/html")
                self.assertTrue(body.startswith(b"<!DOCTYPE html>\n"))
                self.assertTrue(body.endswith(b"</html>\n"))
                self.assertEqual(b"&larr; Back to Kiv" in body, back_link)

    def test_info_and_metrics_on_both_routes(self):
        cases = [
            ("/plugin_ravlen?action=info", "info"),
            ("/plugins?plugin=42&action=info", "info"),
            ("/plugin_ravlen?action=metrics&sort=mem&top=3", "metrics"),
            # The page's own hub request: a second "?" between the hub id and the action.
            ("/plugins?plugin=42?action=metrics&sort=mem&node=web1&top=3", "metrics"),
        ]
        for path, action in cases:
            with self.subTest(path=path):
                status, headers, body = get(self.url + path)
                self.assertEqual(status, 200)
                assert_plugin_headers(self, headers, "application/json")
                doc = json.loads(body)
                self.assertEqual(doc["action"], action)
                self.assertTrue(doc["ok"])
                if action == "metrics":
                    self.assertEqual(doc["sort"], "mem")
                    self.assertEqual(doc["top"], 3)

    def test_other_paths_do_not_run_the_plugin(self):
        for path in ("/plugin_ravlenx", "/plugins/x"):
            with self.subTest(path=path):
                status, _, _ = get(self.url + path)
                self.assertEqual(status, 404)


class Gate(unittest.TestCase):
    # Characters that the stand-in's configuration or its shell must pass through untouched.
    PASSWORD = 'p@ss "word" & \\more\\'

    @classmethod
    def setUpClass(cls):
        cls.server = StandIn(BINARY, cls.PASSWORD)
        cls.url = cls.server.__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.server.__exit__(None, None, None)

    def test_refused_without_a_carrier(self):
        for path in ("/plugin_ravlen", "/plugin_ravlen?action=info", "/plugins?plugin=42?action=metrics",
                     "/plugin_ravlen?action=info&pwd=wrong"):
            with self.subTest(path=path):
                status, headers, body = get(self.url + path, {"X-Kiv-Password": "nope"})
                self.assertEqual(status, 401)
                assert_plugin_headers(self, headers, "application/json")
                self.assertEqual(body, UNAUTHORIZED_BODY)

    def test_each_carrier_admits(self):
        carriers = [
            ("header", {"X-Kiv-Password": self.PASSWORD}, ""),
            ("bearer", {"Authorization": "Bearer " + self.PASSWORD}, ""),
            ("pwd", {}, "&pwd=" + urllib.parse.quote_plus(self.PASSWORD)),
        ]
        for name, headers, extra in carriers:
            for path in ("/plugin_ravlen?action=info", "/plugins?plugin=42?action=metrics&top=1"):
                with self.subTest(carrier=name, path=path):
                    status, _, body = get(self.url + path + extra, headers)
                    self.assertEqual(status, 200)
                    doc = json.loads(body)
                    self.assertTrue(doc["ok"])
                    if doc["action"] == "info":
                        self.assertTrue(doc["node_auth"])


if __name__ == "__main__":
    BINARY = sys.argv.pop(1)
    unittest.main(verbosity=2)
