"""`orvane report`: one self-contained HTML page for a case's hives.

collect reads the hives (one walk each, the deleted-record scan, the artifact
extractors), histogram bins the key times for the activity chart, embed
writes the data as inert JSON, and page lays it all out with the style and
script beside this file (report.css, report.js), inlined into the page.
"""
